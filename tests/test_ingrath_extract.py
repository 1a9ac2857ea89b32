"""Archive extraction in the working directory: results, printed lines, the
files left behind, and archives whose members would land outside."""

import gzip
import io
import os
import tarfile
import types
import zipfile

import pytest

from orvalen import ingrath

ZIP_MANY = "Zip 파일에 하나 이상의 파일이 포함되어 있습니다.\n"


@pytest.fixture(autouse=True)
def work(tmp_path, monkeypatch):
    # Working directory one level down, so "outside" is observable.
    (tmp_path / "work").mkdir()
    (tmp_path / "outside").mkdir()
    (tmp_path / "outside" / "victim").write_bytes(b"original")
    monkeypatch.chdir(tmp_path / "work")
    return tmp_path


def files(path="."):
    return sorted(os.listdir(path))


def outside_untouched(root):
    assert files(root) == ["outside", "work"]
    assert files(root / "outside") == ["victim"]
    assert (root / "outside" / "victim").read_bytes() == b"original"


def write_zip(path, members):
    with zipfile.ZipFile(path, "w") as z:
        for name, data in members:
            z.writestr(name, data)


def write_tar(path, members):
    """members: (name, kind, payload) with kind file, dir, sym, hard or fifo."""
    types_ = {
        "file": tarfile.REGTYPE,
        "dir": tarfile.DIRTYPE,
        "sym": tarfile.SYMTYPE,
        "hard": tarfile.LNKTYPE,
        "fifo": tarfile.FIFOTYPE,
    }
    with tarfile.open(path, "w:gz") as t:
        for name, kind, payload in members:
            info = tarfile.TarInfo(name)
            info.type = types_[kind]
            if kind == "file":
                info.size = len(payload)
                t.addfile(info, io.BytesIO(payload))
            else:
                if kind in ("sym", "hard"):
                    info.linkname = payload
                t.addfile(info)


# --- gzip -------------------------------------------------------------------------


def test_gz(capsys):
    open("a.gz", "wb").write(gzip.compress(b"abc"))
    assert ingrath.decompress_gz("a.gz", "out.bin") == "out.bin"
    assert open("out.bin", "rb").read() == b"abc" and files() == ["out.bin"]
    open("b.gz", "wb").write(gzip.compress(b"def"))
    assert ingrath.decompress_gz("b.gz", "kept.bin", remove_gz=False) == "kept.bin"
    assert files() == ["b.gz", "kept.bin", "out.bin"]
    assert capsys.readouterr().out == "File saved to: out.bin\nFile saved to: kept.bin\n"


def test_gz_failure_is_silent_and_keeps_the_input(capsys):
    open("bad.gz", "wb").write(b"not gzip data")
    assert ingrath.decompress_gz("bad.gz", "out.bin") is None
    assert ingrath.decompress_gz("missing.gz", "other.bin") is None
    assert capsys.readouterr().out == ""
    assert files() == ["bad.gz"]  # no partial output


# --- zip --------------------------------------------------------------------------


def test_zip_into_working_directory_and_elsewhere(capsys):
    write_zip("a.zip", [("a.txt", b"1"), ("sub/b.txt", b"2")])
    assert ingrath.decompress_zip("a.zip") == "./"
    assert files() == ["a.txt", "sub"] and files("sub") == ["b.txt"]
    write_zip("b.zip", [("c.txt", b"3")])
    assert ingrath.decompress_zip("b.zip", "into", remove_zip=False) == "into"
    assert files("into") == ["c.txt"] and "b.zip" in files()
    open("c.zip", "wb").write(b"garbage")
    assert ingrath.decompress_zip("c.zip") is None
    assert capsys.readouterr().out == "Files extracted to: ./\nFiles extracted to: into\n"


def test_zip_and_move(capsys):
    write_zip("a.zip", [("folder/data.bin", b"payload")])
    assert ingrath.decompress_zip_and_move("a.zip") == "data.bin"
    assert files() == ["data.bin"] and open("data.bin", "rb").read() == b"payload"
    write_zip("b.zip", [("other.bin", b"x")])
    assert ingrath.decompress_zip_and_move("b.zip", extract_dir="tmpdir", remove_zip=False) == "other.bin"
    assert files() == ["b.zip", "data.bin", "other.bin"]
    assert capsys.readouterr().out == ""


def test_zip_and_move_needs_exactly_one_entry(capsys):
    with zipfile.ZipFile("two.zip", "w") as z:
        z.writestr(zipfile.ZipInfo("folder/"), b"")
        z.writestr("folder/data.bin", b"payload")
    write_zip("empty.zip", [])
    assert ingrath.decompress_zip_and_move("two.zip") is None
    assert files() == ["empty.zip", "two.zip"]  # counted before anything is extracted
    assert ingrath.decompress_zip_and_move("empty.zip", "e") is None
    assert capsys.readouterr().out == ZIP_MANY * 2
    open("bad.zip", "wb").write(b"garbage")
    assert ingrath.decompress_zip_and_move("bad.zip") is None
    assert capsys.readouterr().out == "오류 발생: File is not a zip file\n"


def test_zip_and_move_reports_errors_but_lets_interrupts_through(monkeypatch, capsys):
    write_zip("a.zip", [("data.bin", b"payload")])

    def interrupted(*args):
        raise KeyboardInterrupt

    monkeypatch.setattr(ingrath, "shutil", types.SimpleNamespace(move=interrupted))
    with pytest.raises(KeyboardInterrupt):
        ingrath.decompress_zip_and_move("a.zip")
    assert capsys.readouterr().out == ""


def test_zip_members_escaping_fail_and_write_nothing_outside(work, capsys):
    open("victim", "wb").write(b"mine")
    write_zip("up.zip", [("../victim", b"theirs")])
    absolute = str(work / "outside" / "victim")
    write_zip("abs.zip", [(absolute, b"theirs")])
    assert ingrath.decompress_zip_and_move("up.zip") is None
    # Joined onto the extraction directory the absolute name would have moved
    # the outside file into the working directory.
    assert ingrath.decompress_zip_and_move("abs.zip") is None
    assert capsys.readouterr().out == (
        "오류 발생: archive member '../victim' would be written outside 'temp_extract'\n"
        "오류 발생: archive member %r would be written outside 'temp_extract'\n" % absolute
    )
    assert ingrath.decompress_zip("up.zip", "sub") is None
    assert ingrath.decompress_zip("abs.zip") is None
    assert capsys.readouterr().out == ""
    assert files() == ["abs.zip", "up.zip", "victim"] and open("victim", "rb").read() == b"mine"
    outside_untouched(work)


# --- tar.gz -----------------------------------------------------------------------


def test_tar_gz_file_at_top_or_in_one_folder(capsys):
    write_tar("a.tar.gz", [("data.bin", "file", b"one")])
    assert ingrath.decompress_tar_gz("a.tar.gz") == "data.bin"
    assert files() == ["data.bin"]
    write_tar("b.tar.gz", [("folder", "dir", None), ("folder/inner.bin", "file", b"two")])
    assert ingrath.decompress_tar_gz("b.tar.gz", remove_org=False) == "inner.bin"
    assert files() == ["b.tar.gz", "data.bin", "inner.bin"]
    # The layout of `tar -C dir .`: a "./" entry first.
    write_tar("c.tar.gz", [("./", "dir", None), ("./dot.bin", "file", b"three")])
    assert ingrath.decompress_tar_gz("c.tar.gz") == "dot.bin"
    assert capsys.readouterr().out == "File saved to: data.bin\nFile saved to: inner.bin\nFile saved to: dot.bin\n"


def test_tar_gz_replaces_same_name_and_clears_a_stale_extract_dir():
    os.makedirs("extract_tmp/aaa_stale")
    open("data.bin", "wb").write(b"old")
    write_tar("a.tar.gz", [("data.bin", "file", b"new")])
    assert ingrath.decompress_tar_gz("a.tar.gz") == "data.bin"
    assert files() == ["data.bin"] and open("data.bin", "rb").read() == b"new"


def test_tar_gz_failures_are_silent(capsys):
    write_tar("empty.tar.gz", [])
    open("bad.tar.gz", "wb").write(b"garbage")
    assert ingrath.decompress_tar_gz("empty.tar.gz") is None
    assert ingrath.decompress_tar_gz("bad.tar.gz") is None
    assert ingrath.decompress_tar_gz("missing.tar.gz") is None
    assert capsys.readouterr().out == ""
    assert "bad.tar.gz" in files() and "empty.tar.gz" in files()


ESCAPES = {
    "dotdot": [("data.bin", "file", b"x"), ("../../outside/evil", "file", b"x")],
    "absolute": [("{outside}/evil", "file", b"x")],
    "symlink up": [("link", "sym", "../../outside"), ("link/evil", "file", b"x")],
    "symlink absolute": [("link", "sym", "{outside}"), ("link/evil", "file", b"x")],
    # Inside by spelling, outside once "d" is followed: d/.. is the working directory.
    "symlink through symlink": [("d", "sym", "."), ("s", "sym", "d/.."), ("s/evil", "file", b"x")],
    "write through symlink": [("s", "sym", "../../outside/victim"), ("s", "file", b"x")],
    "hardlink up": [("h", "hard", "../../outside/victim"), ("h", "file", b"x")],
    "hardlink absolute": [("h", "hard", "{outside}/victim"), ("h", "file", b"x")],
    "fifo": [("pipe", "fifo", None)],
}


@pytest.mark.parametrize("interpreter_filter", [True, False], ids=["with-filter", "own-check-only"])
@pytest.mark.parametrize("case", list(ESCAPES))
def test_tar_gz_members_escaping_fail_and_write_nothing(work, monkeypatch, capsys, case, interpreter_filter):
    if not interpreter_filter:
        # A tarfile without the interpreter's extraction filters.
        monkeypatch.setattr(ingrath, "tarfile", types.SimpleNamespace(open=tarfile.open))
    outside = str(work / "outside")
    members = [
        (n.format(outside=outside), k, p.format(outside=outside) if isinstance(p, str) else p)
        for n, k, p in ESCAPES[case]
    ]
    write_tar("a.tar.gz", members)
    assert ingrath.decompress_tar_gz("a.tar.gz") is None
    assert capsys.readouterr().out == ""
    assert files() == ["a.tar.gz"]
    outside_untouched(work)
