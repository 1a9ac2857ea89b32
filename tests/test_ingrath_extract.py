"""Archive extraction in the working directory: results, printed lines, the
files left behind, and archives whose members would land outside."""

import errno
import gzip
import io
import os
import shutil
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


def write_zip(path, members, corrupt=b""):
    """corrupt: stored bytes altered after writing, so that their member fails its CRC check."""
    with zipfile.ZipFile(path, "w") as z:
        for name, data in members:
            z.writestr(name, data)
    if corrupt:
        raw = open(path, "rb").read()
        open(path, "wb").write(raw.replace(corrupt, corrupt.upper()))


def write_tar(path, members, pax=None):
    """members: (name, kind, payload) with kind file, dir, sym, hard or fifo;
    pax: extended records put on every member."""
    types_ = {
        "file": tarfile.REGTYPE,
        "dir": tarfile.DIRTYPE,
        "sym": tarfile.SYMTYPE,
        "hard": tarfile.LNKTYPE,
        "fifo": tarfile.FIFOTYPE,
    }
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as t:
        for name, kind, payload in members:
            info = tarfile.TarInfo(name)
            info.pax_headers = pax or {}
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


def test_gz_replaces_a_link_at_file_out(work):
    os.symlink("../outside/victim", "downloaded.h5ad")
    open("downloaded", "wb").write(gzip.compress(b"ATTACKER"))
    assert ingrath.decompress_gz("downloaded", "downloaded.h5ad") == "downloaded.h5ad"
    assert not os.path.islink("downloaded.h5ad") and open("downloaded.h5ad", "rb").read() == b"ATTACKER"
    outside_untouched(work)


def test_gz_leaves_another_calls_partial_file_alone():
    open("data.h5ad.part", "w").write("another call's output")
    open("a.gz", "wb").write(gzip.compress(b"mine"))
    assert ingrath.decompress_gz("a.gz", "data.h5ad") == "data.h5ad"
    assert open("data.h5ad", "rb").read() == b"mine"
    assert files() == ["data.h5ad", "data.h5ad.part"] and open("data.h5ad.part").read() == "another call's output"


# 255 bytes fit the file system, though the partial file's name would not unshortened.
@pytest.mark.parametrize("stem, written", [(250, True), (251, False)], ids=["at-the-name-limit", "over-it"])
def test_gz_long_output_name(capsys, stem, written):
    name = "L" * stem + ".h5ad"
    open("in.gz", "wb").write(gzip.compress(b"abc"))
    assert ingrath.decompress_gz("in.gz", name, remove_gz=False) == (name if written else None)
    assert capsys.readouterr().out == ("File saved to: %s\n" % name) * written
    assert files() == sorted(["in.gz"] + [name] * written)


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


def test_zip_link_member_is_refused(capsys):
    info = zipfile.ZipInfo("data.h5ad")
    info.external_attr = 0o120777 << 16
    with zipfile.ZipFile("a.zip", "w") as z:
        z.writestr(info, "../outside/victim")
    assert ingrath.decompress_zip("a.zip", "out") is None
    assert ingrath.decompress_zip_and_move("a.zip") is None
    assert capsys.readouterr().out == "오류 발생: archive member 'data.h5ad' is a link\n"
    assert files() == ["a.zip"]


@pytest.mark.parametrize("extract_dir", ["./", "out"])
def test_failed_zip_leaves_existing_files_alone(extract_dir):
    os.makedirs("out", exist_ok=True)
    open(os.path.join(extract_dir, "a.txt"), "w").write("mine")
    write_zip("a.zip", [("a.txt", b"theirs"), ("b.txt", b"damaged")], corrupt=b"damaged")
    assert ingrath.decompress_zip("a.zip", extract_dir) is None
    assert open(os.path.join(extract_dir, "a.txt")).read() == "mine"
    assert sorted(os.listdir(extract_dir)) == (["a.txt", "a.zip", "out"] if extract_dir == "./" else ["a.txt"])
    # Succeeding, it merges into the folder and replaces files of the same name.
    write_zip("b.zip", [("a.txt", b"theirs"), ("sub/c.txt", b"c")])
    assert ingrath.decompress_zip("b.zip", "out") == "out"
    assert files("out") == ["a.txt", "sub"] and open("out/a.txt").read() == "theirs"


# Reached directly or through a link, the archive is replaced by its namesake
# member, which stays.
@pytest.mark.parametrize(
    "file_in, extract_dir",
    [("a.zip", "./"), ("here/a.zip", "./"), ("alias/a.zip", "real")],
    ids=["directly", "link-to-its-folder", "alias-of-extract-dir"],
)
def test_zip_member_named_like_the_archive_is_kept(file_in, extract_dir):
    os.mkdir("real"), os.symlink(".", "here"), os.symlink("real", "alias")
    write_zip(file_in, [("x", b"1"), ("a.zip", b"MEMBER")])
    assert ingrath.decompress_zip(file_in, extract_dir) == extract_dir
    assert open(os.path.join(extract_dir, "a.zip"), "rb").read() == b"MEMBER"


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

    monkeypatch.setattr(os, "replace", interrupted)
    with pytest.raises(KeyboardInterrupt):
        ingrath.decompress_zip_and_move("a.zip")
    assert capsys.readouterr().out == ""
    assert files() == ["a.zip"]


@pytest.mark.parametrize("extract_dir", [".", "./", "..", "{root}", "{root}/elsewhere", "sub/../.."])
def test_zip_and_move_keeps_the_working_directory(work, capsys, extract_dir):
    write_zip("a.zip", [("data.bin", b"x")])
    open("mine.txt", "w").write("keep")
    extract_dir = extract_dir.format(root=work)
    assert ingrath.decompress_zip_and_move("a.zip", extract_dir=extract_dir) is None
    assert "must be a folder inside the working directory" in capsys.readouterr().out
    assert files() == ["a.zip", "mine.txt"]
    outside_untouched(work)


def test_zip_and_move_keeps_an_existing_extract_dir():
    os.mkdir("results")
    open("results/mine.txt", "w").write("keep")
    write_zip("a.zip", [("data.h5ad", b"x")])
    assert ingrath.decompress_zip_and_move("a.zip", "results") == "data.h5ad"
    assert files() == ["data.h5ad", "results"] and files("results") == ["mine.txt"]


def test_zip_and_move_refuses_a_folder_at_the_name(capsys):
    os.mkdir("data.bin")
    write_zip("a.zip", [("data.bin", b"x")])
    assert ingrath.decompress_zip_and_move("a.zip") is None
    assert capsys.readouterr().out == "오류 발생: a folder named 'data.bin' is in the way\n"
    assert files() == ["a.zip", "data.bin"] and files("data.bin") == []


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
    # Inside extract_tmp, outside once moved up.
    "link moved up": [("d/downloaded.h5ad", "sym", "../outside/victim")],
    "folder with link": [
        ("d", "dir", None),
        ("d/sub", "dir", None),
        ("d/sub/link", "sym", "../../../outside/victim"),
        ("d/data.h5ad", "file", b"x"),
    ],
    "inner link": [("d/data.h5ad", "file", b"x"), ("d/h", "sym", "data.h5ad")],
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


def test_tar_must_hold_one_file_and_zip_and_move_one_member(capsys):
    write_tar("two.tar.gz", [("a.h5ad", "file", b"1"), ("b.h5ad", "file", b"2")])
    write_tar("deep.tar.gz", [("a/b/c.h5ad", "file", b"1")])
    assert ingrath.decompress_tar_gz("two.tar.gz") is None
    assert ingrath.decompress_tar_gz("deep.tar.gz") is None
    write_zip("many.zip", [("f%d" % i, b"x") for i in range(50)])
    assert ingrath.decompress_zip_and_move("many.zip") is None
    assert capsys.readouterr().out == ZIP_MANY
    assert files() == ["deep.tar.gz", "many.zip", "two.tar.gz"]


def test_tar_member_limit_stops_reading(monkeypatch):
    opened = []

    def spy_open(*args):
        opened.append(tarfile.open(*args))
        return opened[-1]

    monkeypatch.setattr(ingrath, "_max_extract_members", 5)
    monkeypatch.setattr(ingrath, "tarfile", types.SimpleNamespace(open=spy_open))
    write_tar("many.tar.gz", [("d%d" % i, "dir", None) for i in range(50)])
    assert ingrath.decompress_tar_gz("many.tar.gz") is None
    assert len(opened[0].members) <= 6


def test_huge_extended_header_is_refused():
    write_tar("bomb.tar.gz", [("data.h5ad", "file", b"x")], pax={"comment": "x" * (2 << 20)})
    assert ingrath.decompress_tar_gz("bomb.tar.gz") is None
    assert files() == ["bomb.tar.gz"]
    # Long names in extended records still go through.
    write_tar("long.tar.gz", [("d" * 200 + "/data.h5ad", "file", b"x")], pax={"comment": "c" * 1000})
    assert ingrath.decompress_tar_gz("long.tar.gz") == "data.h5ad"


# --- what every extractor shares ----------------------------------------------------


def test_member_names_with_control_characters_are_refused(capsys):
    name = "evil\nFile saved to: data.h5ad"
    write_tar("a.tar.gz", [(name, "file", b"x")])
    write_zip("a.zip", [(name, b"x")])
    assert ingrath.decompress_tar_gz("a.tar.gz") is None
    assert ingrath.decompress_zip("a.zip") is None
    assert ingrath.decompress_zip_and_move("a.zip") is None
    assert capsys.readouterr().out == "오류 발생: archive member %r has a control character in its name\n" % name
    assert files() == ["a.tar.gz", "a.zip"]


def test_member_count_and_declared_size_limits(monkeypatch):
    monkeypatch.setattr(ingrath, "_max_extract_members", 5)
    write_tar("many.tar.gz", [("f%d" % i, "file", b"x") for i in range(6)])
    write_zip("many.zip", [("f%d" % i, b"x") for i in range(6)])
    assert ingrath.decompress_tar_gz("many.tar.gz") is None
    assert ingrath.decompress_zip("many.zip", "out") is None
    monkeypatch.setattr(ingrath, "_max_extract_members", 10000)
    monkeypatch.setattr(ingrath, "_max_extract_bytes", 1000)
    write_tar("big.tar.gz", [("d/data.h5ad", "file", b"\0" * 1001)])
    write_zip("big.zip", [("data.h5ad", b"\0" * 1001)])
    open("big.gz", "wb").write(gzip.compress(b"\0" * 1001))
    assert ingrath.decompress_tar_gz("big.tar.gz") is None
    assert ingrath.decompress_zip("big.zip") is None
    assert ingrath.decompress_zip_and_move("big.zip") is None
    assert ingrath.decompress_gz("big.gz", "data.h5ad") is None
    assert files() == ["big.gz", "big.tar.gz", "big.zip", "many.tar.gz", "many.zip"]
    # At the limit it goes through.
    open("ok.gz", "wb").write(gzip.compress(b"\0" * 1000))
    assert ingrath.decompress_gz("ok.gz", "data.h5ad") == "data.h5ad"


def test_member_named_like_the_archive_is_kept():
    write_tar("a.tar.gz", [("d/a.tar.gz", "file", b"payload")])
    assert ingrath.decompress_tar_gz("a.tar.gz") == "a.tar.gz"
    assert open("a.tar.gz", "rb").read() == b"payload"
    write_zip("b.zip", [("b.zip", b"zipped")])
    assert ingrath.decompress_zip_and_move("b.zip") == "b.zip"
    assert open("b.zip", "rb").read() == b"zipped"
    open("c", "wb").write(gzip.compress(b"gz"))
    assert ingrath.decompress_gz("c", "c") == "c" and open("c", "rb").read() == b"gz"
    assert files() == ["a.tar.gz", "b.zip", "c"]


# Another process puts a link to a folder outside at the output's name just
# before the move: the link is replaced, not followed.
@pytest.mark.parametrize("cross_device", [False, True], ids=["rename", "copy-across-file-systems"])
@pytest.mark.parametrize("unpack", ["tar_gz", "zip_and_move"])
def test_a_link_planted_at_the_move_is_replaced(work, monkeypatch, unpack, cross_device):
    cross = [errno.EXDEV] * cross_device

    def planting(real, may_cross=False):
        def move(src, dst):
            if os.path.basename(dst) == "data.bin":
                if not os.path.lexists(dst):
                    os.symlink(work / "outside", dst)
                if cross and may_cross:
                    raise OSError(cross.pop(), "Invalid cross-device link")
            return real(src, dst)

        return move

    monkeypatch.setattr(os, "replace", planting(os.replace, may_cross=True))
    monkeypatch.setattr(shutil, "move", planting(shutil.move))
    write_tar("a", [("data.bin", "file", b"new")]) if unpack == "tar_gz" else write_zip("a", [("data.bin", b"new")])
    assert getattr(ingrath, "decompress_" + unpack)("a") == "data.bin"
    assert not os.path.islink("data.bin") and open("data.bin", "rb").read() == b"new"
    assert files() == ["data.bin"] and not cross
    outside_untouched(work)


# Another process puts a link to a folder outside at extract_tmp once the
# leftover is cleared: nothing is written through it.
def test_a_link_planted_at_extract_tmp_is_not_followed(work, monkeypatch):
    def planting_open(*args):
        os.symlink(work / "outside", "extract_tmp")
        return tarfile.open(*args)

    monkeypatch.setattr(ingrath, "tarfile", types.SimpleNamespace(open=planting_open))
    write_tar("a.tar.gz", [("d/data.bin", "file", b"new")])
    assert ingrath.decompress_tar_gz("a.tar.gz") == "data.bin"
    assert open("data.bin", "rb").read() == b"new"
    outside_untouched(work)


def raiser(exc):
    def f(*args, **kwargs):
        raise exc

    return f


class InterruptedReader:
    """A gzip stream that delivers one chunk, then Ctrl-C."""

    def __init__(self, *args):
        self.calls = 0

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        return False

    def read(self, n):
        self.calls += 1
        if self.calls > 1:
            raise KeyboardInterrupt
        return b"x" * n


def test_interrupted_unpack_leaves_no_partial_output(monkeypatch):
    open("a.gz", "wb").write(b"")
    monkeypatch.setattr(ingrath, "gzip", types.SimpleNamespace(open=InterruptedReader))
    with pytest.raises(KeyboardInterrupt):
        ingrath.decompress_gz("a.gz", "out.h5ad")
    assert files() == ["a.gz"]

    write_tar("a.tar.gz", [("d/data.h5ad", "file", b"x")])

    def open_interrupted(*args):
        t = tarfile.open(*args)
        t.extractfile = InterruptedReader  # one chunk written, then Ctrl-C
        return t

    monkeypatch.setattr(ingrath, "tarfile", types.SimpleNamespace(open=open_interrupted))
    with pytest.raises(KeyboardInterrupt):
        ingrath.decompress_tar_gz("a.tar.gz")
    assert files() == ["a.gz", "a.tar.gz"]
