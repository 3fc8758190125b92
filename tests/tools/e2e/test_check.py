"""Registration check pictures on boxes whose faces lie where the tests put
them: REF's edges within one pixel of the faces in every plane, a shift of
one voxel visible, and every option at work."""

import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from harness import ProgramTest, main_if_run  # noqa: E402
from test_slice import read_png  # noqa: E402
import niftiwrite  # noqa: E402

SHAPE = (40, 36, 30)
AFFINE = np.array([[1.0, 0, 0, -20], [0, 1.0, 0, -18], [0, 0, 1.5, -22.5], [0, 0, 0, 1]])
BOX = ((10, 25), (8, 23), (6, 19))  # first and last voxel of the box along x, y, z (from 0)
AXES = {"axial": (0, 1, 2), "coronal": (0, 2, 1), "sagittal": (1, 2, 0)}  # u, v, normal


def box_volume(box=BOX, value=100.0, shape=SHAPE):
    data = np.zeros(shape, np.float32)
    data[tuple(slice(lo, hi + 1) for lo, hi in box)] = value
    return data


def world_bounds():
    corners = np.array([[-0.5 if (c >> a) & 1 == 0 else SHAPE[a] - 0.5 for a in range(3)] + [1] for c in range(8)])
    world = corners @ AFFINE.T
    return world[:, :3].min(axis=0), world[:, :3].max(axis=0)


def box_faces(box=BOX):
    """The box's faces in world mm along x, y, z: (low, high) per axis."""
    return [(AFFINE[a, a] * (lo - 0.5) + AFFINE[a, 3], AFFINE[a, a] * (hi + 0.5) + AFFINE[a, 3])
            for a, (lo, hi) in enumerate(box)]


def panel_world(plane, percent, size):
    """World u and v (mm) of each panel pixel's centre, picture rows from
    the top, the pixel size and the plane's position along its normal."""
    u, v, n = AXES[plane]
    low, high = world_bounds()
    w, h = size
    step = max((high[u] - low[u]) / w, (high[v] - low[v]) / h)
    i = np.arange(1, w + 1)
    j = np.arange(h, 0, -1)
    wu = (low[u] + high[u]) / 2 + (i - (w + 1) / 2) * step
    wv = (low[v] + high[v]) / 2 + (j - (h + 1) / 2) * step
    return np.meshgrid(wu, wv), step, low[n] + percent / 100 * (high[n] - low[n])


class Mosaic:
    """A decoded check picture cut into its panels, laid out as the help says."""

    def __init__(self, path, planes, positions, size):
        width, height, bpp, rows = read_png(path)
        assert bpp == 3
        self.rgb = np.frombuffer(b"".join(rows), np.uint8).reshape(height, width, 3)
        self.planes, self.positions, self.size = planes, positions, size
        w, h = size
        self.strip = 10 * max(1, min(w, h) // 96)
        assert (width, height) == (len(positions) * (w + 4) + 4, len(planes) * (self.strip + h + 4) + 4)

    def panel(self, row, column):
        w, h = self.size
        y = 4 + row * (self.strip + h + 4) + self.strip
        x = 4 + column * (w + 4)
        return self.rgb[y:y + h, x:x + w]

    def world(self, plane, percent):
        return panel_world(plane, percent, self.size)


def coloured(panel):
    """Pixels that are not grey: the overlays."""
    return (panel[..., 0] != panel[..., 1]) | (panel[..., 1] != panel[..., 2])


# Rows through the middle of the box in 192-pixel axial and sagittal
# panels, searched from column 30: right of the letter on the left edge,
# left of the box's face.
MIDDLE_ROWS = range(80, 112)
START = 30


def first_edge(panel):
    return np.array([np.argmax(coloured(panel)[r, START:]) for r in MIDDLE_ROWS])


def first_bright(panel):
    """Where the grey first passes the middle level (overlays left out)."""
    grey = np.where(coloured(panel), 0, panel[..., 0])
    return np.array([np.argmax(grey[r, START:] > 127) for r in MIDDLE_ROWS])


def distance_to_rectangle(pu, pv, face_u, face_v):
    inside = (pu >= face_u[0]) & (pu <= face_u[1]) & (pv >= face_v[0]) & (pv <= face_v[1])
    inner = np.minimum.reduce([pu - face_u[0], face_u[1] - pu, pv - face_v[0], face_v[1] - pv])
    du = np.maximum.reduce([face_u[0] - pu, np.zeros_like(pu), pu - face_u[1]])
    dv = np.maximum.reduce([face_v[0] - pv, np.zeros_like(pv), pv - face_v[1]])
    # Outside, the distance along the farther axis: a corner's diagonal
    # neighbour is one pixel away.
    return np.where(inside, inner, np.maximum(du, dv))


class Check(ProgramTest):
    def write(self, name, data, affine=AFFINE):
        import nibabel as nib
        image = nib.Nifti1Image(data, affine)
        image.set_sform(affine, 1)
        image.set_qform(affine, 1)
        path = self.path(name)
        nib.save(image, path)
        return path

    def mosaic(self, image, ref, *options, planes=("axial", "coronal", "sagittal"), positions=(25, 50, 75),
               size=(192, 192)):
        out = self.path("check.png")
        self.ok("check", image, ref, "-o", out, *options)
        return Mosaic(out, planes, positions, size)

    def assert_edges_on_faces(self, mosaic, faces, row, column):
        plane, percent = mosaic.planes[row], mosaic.positions[column]
        u, v, _ = AXES[plane]
        (pu, pv), step, _ = mosaic.world(plane, percent)
        edges = coloured(mosaic.panel(row, column))
        distance = distance_to_rectangle(pu, pv, faces[u], faces[v])
        self.assertTrue(edges.any())
        # Within a voxel of a corner the gradient turns diagonal, and the
        # edge cuts the corner by up to a pixel and a half.
        corner = np.full(edges.shape, False)
        for face_u in faces[u]:
            for face_v in faces[v]:
                corner |= (np.abs(pu - face_u) < AFFINE[u, u]) & (np.abs(pv - face_v) < AFFINE[v, v])
        self.assertLessEqual(distance[edges & ~corner].max(), step, (plane, percent))
        self.assertLessEqual(distance[edges].max(), 1.5 * step, (plane, percent))
        # Every face is drawn: nearly every pixel along it has an edge beside it.
        along = (distance < step / 2) & (pu > faces[u][0] + 2 * step) & (pu < faces[u][1] - 2 * step)
        along |= (distance < step / 2) & (pv > faces[v][0] + 2 * step) & (pv < faces[v][1] - 2 * step)
        near_edge = np.zeros_like(edges)
        for di in (-1, 0, 1):
            for dj in (-1, 0, 1):
                near_edge |= np.roll(np.roll(edges, di, 0), dj, 1)
        self.assertGreater(near_edge[along].mean(), 0.95, (plane, percent))

    def test_edges_lie_on_the_box_faces_in_every_plane(self):
        ref = self.write("ref.nii", box_volume())
        for planes, positions, size in [(("axial", "coronal", "sagittal"), (35, 50, 60), (192, 192)),
                                        (("sagittal", "axial"), (45,), (150, 100))]:
            with self.subTest(planes=planes, size=size):
                m = self.mosaic(ref, ref, "--planes", ",".join(planes), "--positions",
                                ",".join(map(str, positions)), "--size", "%dx%d" % size,
                                planes=planes, positions=positions, size=size)
                for row in range(len(planes)):
                    for column in range(len(positions)):
                        self.assert_edges_on_faces(m, box_faces(), row, column)

    def test_a_plane_beside_the_box_has_no_edges(self):
        ref = self.write("ref.nii", box_volume())
        m = self.mosaic(ref, ref, "--planes", "axial", "--positions", "5,50", planes=("axial",), positions=(5, 50))
        self.assertFalse(coloured(m.panel(0, 0)).any())
        self.assertTrue(coloured(m.panel(0, 1)).any())

    def test_a_one_voxel_shift_moves_the_edges_and_the_image_against_them(self):
        ref = self.write("ref.nii", box_volume())
        shifted = self.write("shifted.nii", np.roll(box_volume(), 1, axis=0))
        options = ("--planes", "axial", "--positions", "50", "--window", "0,100")
        layout = dict(planes=("axial",), positions=(50,))
        same = self.mosaic(ref, ref, *options, **layout).panel(0, 0)
        moved_ref = self.mosaic(ref, shifted, *options, **layout).panel(0, 0)
        moved_image = self.mosaic(shifted, ref, *options, **layout).panel(0, 0)
        _, step, _ = panel_world("axial", 50, (192, 192))
        expected = 1 / step  # pixels per voxel along x (1 mm)
        self.assertTrue(np.all(np.abs(first_edge(moved_ref) - first_edge(same) - expected) <= 1))
        aligned = first_bright(same) - first_edge(same)
        offset = first_bright(moved_image) - first_edge(moved_image)
        self.assertTrue(np.all(np.abs(aligned) <= 1))
        self.assertTrue(np.all(np.abs(offset - aligned - expected) <= 1))

    def test_an_image_on_another_grid_is_drawn_where_it_lies_in_the_world(self):
        # The same box on voxels of 2 x 2 x 3 mm whose faces fall on REF's.
        coarse = np.diag([2.0, 2.0, 3.0, 1.0])
        coarse[:3, 3] = (-19.5, -19.5, -21.75)
        image = self.write("coarse.nii", box_volume(((5, 12), (5, 12), (3, 9)), shape=(20, 20, 15)), coarse)
        ref = self.write("ref.nii", box_volume())
        for plane in ("axial", "sagittal"):
            with self.subTest(plane=plane):
                panel = self.mosaic(image, ref, "--planes", plane, "--positions", "50", "--window", "0,100",
                                    planes=(plane,), positions=(50,)).panel(0, 0)
                self.assertTrue(np.all(np.abs(first_bright(panel) - first_edge(panel)) <= 1))

    def test_window_sets_the_grey_levels_of_the_image(self):
        ref = self.write("ref.nii", box_volume())
        layout = dict(planes=("axial",), positions=(50,))
        for window, inside in [("0,100", 255), ("0,200", 128), ("100,300", 0)]:
            with self.subTest(window=window):
                panel = self.mosaic(ref, ref, "--planes", "axial", "--positions", "50", "--window", window,
                                    **layout).panel(0, 0)
                self.assertEqual(tuple(panel[96, 96]), (inside,) * 3)

    def test_hold_nearest_draws_only_the_voxel_values(self):
        ref = self.write("ref.nii", box_volume())
        layout = dict(planes=("axial",), positions=(50,))
        for hold, levels_expected in [("0", {0, 255}), ("1", None)]:
            with self.subTest(hold=hold):
                panel = self.mosaic(ref, ref, "--planes", "axial", "--positions", "50", "--window", "0,100",
                                    "--hold", hold, **layout).panel(0, 0)
                levels = set(panel[~coloured(panel)][:, 0].tolist())
                if levels_expected:
                    self.assertEqual(levels, levels_expected)
                else:
                    self.assertGreater(len(levels - {0, 255}), 0)

    def test_checkerboard_alternates_the_two_images_in_squares(self):
        ref = self.write("ref.nii", box_volume())
        image = self.write("image.nii", 200 - box_volume())
        for n in (4, 7):
            with self.subTest(n=n):
                panel = self.mosaic(image, ref, "--planes", "axial", "--positions", "50", "--checkerboard", str(n),
                                    planes=("axial",), positions=(50,)).panel(0, 0)
                side = -(-192 // n)
                (pu, pv), step, _ = panel_world("axial", 50, (192, 192))
                faces = box_faces()
                # Linear interpolation ramps over half a voxel (1 mm here) on each side of a face.
                inner = distance_to_rectangle(pu, pv, faces[0], faces[1]) > 0.5 + step
                inner &= (pu > faces[0][0]) & (pu < faces[0][1]) & (pv > faces[1][0]) & (pv < faces[1][1])
                rows, columns = np.nonzero(inner)
                ref_square = (rows // side + columns // side) % 2 == 1
                # Inside the box IMAGE is at the bottom of its range, REF at the top of its own.
                np.testing.assert_array_equal(panel[rows, columns, 0], np.where(ref_square, 255, 0))

    def test_edge_threshold_picks_the_faint_edges(self):
        data = box_volume() + box_volume(((30, 35), (8, 23), (6, 19)), 10.0)
        ref = self.write("ref.nii", data)
        layout = dict(planes=("axial",), positions=(50,))
        (pu, _), _, _ = panel_world("axial", 50, (192, 192))
        faint = pu > box_faces(((10, 28), (0, 0), (0, 0)))[0][1]
        for threshold, drawn in [("0.2", False), ("0.05", True)]:
            with self.subTest(threshold=threshold):
                panel = self.mosaic(ref, ref, "--planes", "axial", "--positions", "50", "--edges",
                                    threshold, **layout).panel(0, 0)
                self.assertEqual(coloured(panel)[faint].any(), drawn)

    def label_image(self):
        labels = np.zeros(SHAPE, np.int16)
        labels[10:20, 8:24, 6:20] = 3
        labels[20:26, 8:24, 6:20] = 7
        return labels

    def test_labels_are_drawn_as_outlines_in_their_colours(self):
        labels = self.write("labels.nii", self.label_image())
        grey = self.write("grey.nii", box_volume())
        slice_out = self.path("labels.png")
        self.ok("slice", labels, "--world", "--axial", "0", "--labels", "--no-letters", "-o", slice_out)
        _, _, _, rows = read_png(slice_out)
        label_colours = set(tuple(p) for p in np.frombuffer(b"".join(rows), np.uint8).reshape(-1, 3)) - {(0, 0, 0)}
        self.assertEqual(len(label_colours), 2)
        faces_of = {3: box_faces(((10, 19), BOX[1], BOX[2])), 7: box_faces(((20, 25), BOX[1], BOX[2]))}
        for side, image, ref in [("ref", grey, labels), ("image", labels, grey)]:
            with self.subTest(labels=side):
                m = self.mosaic(image, ref, "--labels", side, "--planes", "axial", "--positions", "50",
                                planes=("axial",), positions=(50,))
                panel = m.panel(0, 0)
                outline = coloured(panel)
                self.assertEqual(set(tuple(p) for p in panel[outline]), label_colours)
                (pu, pv), step, _ = m.world("axial", 50)
                near = np.minimum(distance_to_rectangle(pu, pv, faces_of[3][0], faces_of[3][1]),
                                  distance_to_rectangle(pu, pv, faces_of[7][0], faces_of[7][1]))
                self.assertLessEqual(near[outline].max(), step)

    def test_same_picture_with_any_thread_count_and_the_chosen_volume(self):
        ref = self.write("ref.nii", box_volume())
        series = self.write("series.nii", np.stack([np.zeros(SHAPE, np.float32), box_volume()], axis=3))
        pictures = []
        for threads in ("1", "2"):
            out = self.path(f"t{threads}.png")
            self.ok("check", series, ref, "--volume", "2", "--threads", threads, "-o", out)
            with open(out, "rb") as f:
                pictures.append(f.read())
        self.assertEqual(pictures[0], pictures[1])
        single = self.path("single.png")
        self.ok("check", ref, ref, "-o", single)
        with open(single, "rb") as f:
            self.assertEqual(f.read(), pictures[0])

    def test_bad_options_name_themselves_and_write_nothing(self):
        ref = self.write("ref.nii", box_volume())
        out = self.path("bad.png")
        cases = [(["--planes", "axial,top"], "--planes"), (["--planes", "axial,axial"], "--planes"),
                 (["--positions", "50,120"], "--positions: 120"), (["--positions", "half"], "--positions"),
                 (["--size", "4x4"], "--size"), (["--size", "4000x4000"], "--size"),
                 (["--window", "5,1"], "--window"),
                 (["--checkerboard", "1"], "--checkerboard"),
                 (["--checkerboard", "4", "--labels", "ref"], "--checkerboard"),
                 (["--labels", "both"], "--labels"), (["--edges", "0"], "--edges"),
                 (["--hold", "label"], "--hold")]
        for options, named in cases:
            with self.subTest(options=options):
                line = self.fails("check", ref, ref, "-o", out, *options, status=2)
                self.assertIn(named, line)
                self.assertFalse(os.path.exists(out))
        self.assertIn("x.jpg", self.fails("check", ref, ref, "-o", self.path("x.jpg"), status=2))
        self.assertIn("IMAGE and a REF", self.fails("check", ref, "-o", out, status=2))
        flat = niftiwrite.write_nii(self.path("flat.nii"), np.zeros((4, 4, 4)), 16,
                                    srow=[[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 0, 0]])
        for image, reference in [(flat, ref), (ref, flat)]:
            line = self.fails("check", image, reference, "-o", out)
            self.assertIn("flat.nii: its voxel-to-world matrix is singular", line)
            self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    main_if_run()
