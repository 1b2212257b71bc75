"""The module's calling conventions: registration, argument binding and
conversion, error mapping and JSON results."""

import inspect
import json
import pathlib

import pytest

import zandrel_native as zn
from fixtures import write_deck


def test_module_has_empty_docstring_and_only_functions():
    assert zn.__doc__ == ""
    public = [name for name in dir(zn) if not name.startswith("__")]
    assert public and all(callable(getattr(zn, name)) for name in public)


def test_build_info_exact_text():
    assert zn.build_info_json() == (
        '{\n  "build_profile": "release",\n  "debug_assertions": false,\n'
        '  "package": "zandrel-py",\n  "version": "0.1.0"\n}'
    )


@pytest.mark.parametrize(
    "function, signature",
    [
        ("build_info_json", "()"),
        ("inspect_package_json", "(path)"),
        ("roundtrip_package_json", "(input, output)"),
    ],
)
def test_text_signature(function, signature):
    fn = getattr(zn, function)
    assert str(inspect.signature(fn)) == signature
    assert fn.__module__ == "zandrel_native"
    assert not fn.__doc__


@pytest.fixture
def deck(tmp_path):
    return str(write_deck(tmp_path / "deck.pptx"))


@pytest.mark.parametrize(
    "call, exception, message",
    [
        (lambda d, o: zn.inspect_package_json(), TypeError, "missing required argument 'path'"),
        (lambda d, o: zn.inspect_package_json(d, d), TypeError, "takes 1 positional argument"),
        (lambda d, o: zn.inspect_package_json(pathx=d), TypeError, "unexpected keyword argument 'pathx'"),
        (lambda d, o: zn.inspect_package_json(d, path=d), TypeError, "multiple values for argument 'path'"),
        (lambda d, o: zn.inspect_package_json(d.encode()), TypeError, "argument 'path' must be str, not bytes"),
        (lambda d, o: zn.inspect_package_json(pathlib.Path(d)), TypeError, "argument 'path' must be str"),
        (lambda d, o: zn.inspect_package_json(None), TypeError, "argument 'path' must be str, not NoneType"),
        (lambda d, o: zn.inspect_package_json(3), TypeError, "argument 'path' must be str, not int"),
        (lambda d, o: zn.roundtrip_package_json(d), TypeError, "missing required argument 'output'"),
        (lambda d, o: zn.roundtrip_package_json(d, output=pathlib.Path(o)), TypeError, "argument 'output' must be str"),
        (lambda d, o: zn.build_info_json(1), TypeError, "takes 0 positional arguments but 1 was given"),
        (lambda d, o: zn.build_info_json(x=1), TypeError, "unexpected keyword argument 'x'"),
    ],
)
def test_argument_errors(deck, tmp_path, call, exception, message):
    with pytest.raises(exception, match=message):
        call(deck, str(tmp_path / "out.pptx"))
    assert not (tmp_path / "out.pptx").exists()


def test_keywords_and_positionals_give_the_same_result(deck, tmp_path):
    assert zn.inspect_package_json(path=deck) == zn.inspect_package_json(deck)
    out = str(tmp_path / "out.pptx")
    by_keyword = json.loads(zn.roundtrip_package_json(output=out, input=deck))
    assert by_keyword["path"] == out


@pytest.mark.parametrize(
    "make_input, prefix",
    [
        (lambda tmp: str(tmp / "missing.pptx"), "io error: "),
        (lambda tmp: _write(tmp / "text.pptx", b"this is not a zip archive at all"), "zip error: "),
    ],
)
def test_core_errors_become_runtime_errors(tmp_path, make_input, prefix):
    with pytest.raises(RuntimeError) as raised:
        zn.inspect_package_json(make_input(tmp_path))
    assert str(raised.value).startswith(prefix)


def test_missing_file_message_is_the_system_text(tmp_path):
    with pytest.raises(RuntimeError, match="^io error: No such file or directory$"):
        zn.inspect_package_json(str(tmp_path / "missing.pptx"))


def _write(path, data):
    path.write_bytes(data)
    return str(path)


@pytest.mark.parametrize("text, code_point", [("a\ud800b", "U+D800"), ("x\x0b", "U+000B")])
def test_caller_text_keeps_lone_surrogates_for_the_xml_character_check(deck, tmp_path, text, code_point):
    out = tmp_path / "out.pptx"
    with pytest.raises(RuntimeError) as raised:
        zn.replace_slide_text_json(deck, str(out), "Hello", text)
    assert str(raised.value) == f"invalid input: text contains a character that XML does not allow: {code_point}"
    assert not out.exists()
