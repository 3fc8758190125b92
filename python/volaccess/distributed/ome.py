"""OME-NGFF 0.4 image metadata: reading the axes, the two levels of
coordinate transformations and the units of a multiscales image, and
writing them for a pyramid.

A voxel index (along the array's own axes) goes to the world first
through its dataset's transformations, then through the multiscales-level
ones: each list is one scale and at most one translation after it.
Length-one time and channel axes are dropped; the three space axes, named
x, y and z, may come in any order. Every field that cannot be used raises
one SourceError naming the store and the field.
"""

import dataclasses
import json
import math

from .errors import SourceError

# The space units OME-NGFF 0.4 names (UDUNITS-2): metric ones as powers
# of ten of a metre, so that converting between them divides or
# multiplies by an exact power of ten; the others in metres.
POWERS = {
    "yoctometer": -24, "zeptometer": -21, "attometer": -18, "femtometer": -15, "picometer": -12, "angstrom": -10,
    "nanometer": -9, "micrometer": -6, "millimeter": -3, "centimeter": -2, "decimeter": -1, "meter": 0,
    "hectometer": 2, "kilometer": 3, "megameter": 6, "gigameter": 9, "terameter": 12, "petameter": 15,
    "exameter": 18, "zettameter": 21, "yottameter": 24,
}
METRES = {"inch": 0.0254, "foot": 0.3048, "yard": 0.9144, "mile": 1609.344, "parsec": 3.0856775814913673e16,
          **{name: 10.0 ** power for name, power in POWERS.items()}}
SPACE = ("z", "y", "x")
DROPPABLE = {"t": "time", "c": "channel"}


@dataclasses.dataclass(frozen=True)
class Level:
    """One level of a multiscales image: its array path, the positions of
    z, y and x among the array's axes, and the voxel size and origin of
    each of them in the image's unit."""

    path: str
    order: tuple  # array axis of z, y, x
    scale: tuple  # z, y, x
    translation: tuple  # z, y, x


@dataclasses.dataclass(frozen=True)
class Image:
    levels: tuple
    unit: str  # the space axes' unit, or None when the metadata gives none
    ndim: int


class Fields:
    """Reads a store's attributes, naming the store and the field in every
    error."""

    def __init__(self, path):
        self.path = path

    def fail(self, where, what):
        raise SourceError(f"{self.path}: .zattrs: {where}: {what}")

    def obj(self, value, where):
        if not isinstance(value, dict):
            self.fail(where, f"expected an object, found {json.dumps(value)[:60]}")
        return value

    def items(self, value, where):
        if not isinstance(value, list) or not value:
            self.fail(where, f"expected a list of at least one entry, found {json.dumps(value)[:60]}")
        return value

    def text(self, parent, key, where):
        if key not in parent:
            self.fail(f"{where}.{key}", "missing")
        value = parent[key]
        if not isinstance(value, str):
            self.fail(f"{where}.{key}", f"expected a string, found {json.dumps(value)[:60]}")
        return value

    def numbers(self, value, count, where, nonzero):
        if not isinstance(value, list) or len(value) != count:
            self.fail(where, f"expected {count} numbers (one per axis), found {json.dumps(value)[:60]}")
        if not all(isinstance(v, (int, float)) and not isinstance(v, bool) and math.isfinite(v) for v in value):
            self.fail(where, f"expected finite numbers, found {json.dumps(value)[:60]}")
        if nonzero and any(v == 0 for v in value):
            self.fail(where, "a scale of 0 puts every voxel at one point")
        return [float(v) for v in value]


def _axes(fields, multiscale, ndim):
    """(positions of z, y, x; positions of dropped axes; unit)."""
    where = "multiscales[0].axes"
    axes = fields.items(multiscale.get("axes"), where)
    if len(axes) != ndim:
        fields.fail(where, f"{len(axes)} axes for an array of {ndim} dimensions")
    names, units, dropped = [], set(), []
    for n, axis in enumerate(axes):
        at = f"{where}[{n}]"
        axis = fields.obj(axis, at)
        name = fields.text(axis, "name", at)
        kind = axis.get("type", "space" if name in SPACE else DROPPABLE.get(name))
        if kind == "space" and name in SPACE:
            unit = axis.get("unit")
            if unit is not None and unit not in METRES:
                fields.fail(f"{at}.unit", f"'{unit}' is not a space unit of OME-NGFF 0.4")
            units.add(unit)
        elif kind in ("time", "channel"):
            dropped.append(n)
        else:
            fields.fail(at, f"axis '{name}' of type '{kind}' cannot be resliced (only x, y, z and "
                            "length-one time and channel axes)")
        names.append(name)
    if sorted(n for n in names if n in SPACE) != sorted(SPACE) or len(names) - len(dropped) != 3:
        fields.fail(where, f"expected the space axes x, y and z once each, found {names}")
    if len(units) > 1:
        fields.fail(where, f"the space axes carry different units {sorted(u or 'none' for u in units)}")
    return tuple(names.index(s) for s in SPACE), tuple(dropped), units.pop()


def _transforms(fields, value, ndim, where):
    """Scale and translation of one list of coordinateTransformations."""
    scale, translation = [1.0] * ndim, [0.0] * ndim
    if value is None:
        return scale, translation
    for n, t in enumerate(fields.items(value, where)):
        at = f"{where}[{n}]"
        t = fields.obj(t, at)
        kind = t.get("type")
        if kind == "scale" and n == 0:
            scale = fields.numbers(t.get("scale"), ndim, f"{at}.scale", nonzero=True)
        elif kind == "translation" and n == 1:
            translation = fields.numbers(t.get("translation"), ndim, f"{at}.translation", nonzero=False)
        elif kind != "identity":
            fields.fail(at, f"expected a scale first and a translation after it, found type {json.dumps(kind)}")
    return scale, translation


def read_image(path, attrs, shape_of):
    """The levels of the first multiscales image of a store's attributes;
    shape_of(array path) gives each level's array shape (None when the
    array is missing)."""
    fields = Fields(path)
    multiscales = fields.items(attrs.get("multiscales"), "multiscales")
    multiscale = fields.obj(multiscales[0], "multiscales[0]")
    datasets = fields.items(multiscale.get("datasets"), "multiscales[0].datasets")
    first = fields.text(fields.obj(datasets[0], "multiscales[0].datasets[0]"), "path", "multiscales[0].datasets[0]")
    shape = shape_of(first)
    if shape is None:
        fields.fail("multiscales[0].datasets[0].path", f"the array '{first}' is missing")
    ndim = len(shape)
    order, dropped, unit = _axes(fields, multiscale, ndim)
    outer = _transforms(fields, multiscale.get("coordinateTransformations"), ndim,
                        "multiscales[0].coordinateTransformations")
    levels = []
    for n, dataset in enumerate(datasets):
        at = f"multiscales[0].datasets[{n}]"
        array = fields.text(fields.obj(dataset, at), "path", at)
        level_shape = shape_of(array)
        if level_shape is None or len(level_shape) != ndim:
            fields.fail(f"{at}.path", f"the array '{array}' is missing or has another number of axes")
        if any(level_shape[a] != 1 for a in dropped):
            fields.fail(f"{at}.path", f"the array '{array}' has {list(level_shape)} voxels: only time and channel "
                                      "axes of length one can be dropped")
        if "coordinateTransformations" not in dataset:
            fields.fail(f"{at}.coordinateTransformations", "missing")
        scale, translation = _transforms(fields, dataset["coordinateTransformations"], ndim,
                                         f"{at}.coordinateTransformations")
        # The dataset's transformations first, then the multiscales' own.
        world_scale = [outer[0][a] * scale[a] for a in order]
        world_translation = [outer[0][a] * translation[a] + outer[1][a] for a in order]
        levels.append(Level(path=array, order=order, scale=tuple(world_scale), translation=tuple(world_translation)))
    return Image(levels=tuple(levels), unit=unit, ndim=ndim)


def in_unit(lengths, unit, wanted):
    """Lengths in `unit` expressed in `wanted`; unchanged when either is not
    given. Between metric units the conversion is one division or
    multiplication by a power of ten, rounded once."""
    if unit is None or wanted is None or unit == wanted:
        return lengths
    if unit in POWERS and wanted in POWERS:
        power = POWERS[unit] - POWERS[wanted]
        return lengths * 10.0 ** power if power >= 0 else lengths / 10.0 ** -power
    return lengths * (METRES[unit] / METRES[wanted])


def multiscales(name, unit, levels, downsampling):
    """The OME-NGFF 0.4 "multiscales" attribute of a written pyramid:
    levels are (path, scale zyx, translation zyx)."""
    axes = [{"name": n, "type": "space", **({"unit": unit} if unit else {})} for n in SPACE]
    return [{
        "version": "0.4",
        "name": name,
        "axes": axes,
        "datasets": [{"path": path, "coordinateTransformations": [
            {"type": "scale", "scale": list(scale)},
            {"type": "translation", "translation": list(translation)}]} for path, scale, translation in levels],
        "type": downsampling,
    }]
