"""The docstrings of the installed package: the examples run and show
what they print, and the public calls document themselves in numpydoc's
sections."""

import doctest
import inspect

import pytest

import volaccess
from volaccess import _images, _native


def public_docstrings():
    """(name, docstring) of every public class, function, method and
    property of the package's own modules."""
    found = {}
    for module in (volaccess, _images, _native):
        for name, value in vars(module).items():
            if name.startswith("_") or not (inspect.isclass(value) or callable(value)):
                continue
            found[f"{value.__module__}.{name}"] = value.__doc__ or ""
            if inspect.isclass(value):
                for member, attribute in vars(value).items():
                    if not member.startswith("_"):
                        found[f"{value.__module__}.{name}.{member}"] = attribute.__doc__ or ""
    return sorted(found.items())


WITH_EXAMPLES = [(name, doc) for name, doc in public_docstrings() if ">>>" in doc]


@pytest.mark.parametrize("name, doc", WITH_EXAMPLES, ids=[name for name, _ in WITH_EXAMPLES])
def test_examples_run_and_print_what_they_show(name, doc):
    test = doctest.DocTestParser().get_doctest(doc, {}, name, None, 0)
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    runner.run(test)
    assert runner.failures == 0 and runner.tries > 0


@pytest.mark.parametrize("call", [volaccess.load, volaccess.sample_array, volaccess.Volume.sample,
                                  volaccess.Volume.slice], ids=lambda call: call.__name__)
def test_public_calls_document_parameters_returns_raises_and_examples(call):
    for section in ("Parameters", "Returns", "Raises", "Examples"):
        assert f"\n{section}\n{'-' * len(section)}\n" in inspect.cleandoc(call.__doc__), section


def test_type_stub_and_marker_are_installed_beside_the_native_module():
    folder = _native.__file__.rsplit("/", 1)[0]
    with open(f"{folder}/_native.pyi") as stub:
        names = stub.read()
    assert all(f"def {name}(" in names for name in ("sample", "slice", "sample_array", "close"))
    with open(f"{folder}/py.typed"):
        pass
