"""Hostile archives, extraction limits, name clashes, interrupts and the
placeholder registry: each case would write outside, delete, fill the disk,
lose the result or swallow Ctrl-C without the guards."""

import gzip
import io
import os
import tarfile
import types
import zipfile

import pytest

from orvalen import ingrath

NO_HOSTED_IDS = (
    "This installation has no hosted identifiers (orvalen/ingrath_registry.json holds "
    "placeholders); set them as described in docs/deployment.md.\n"
)


@pytest.fixture(autouse=True)
def work(tmp_path, monkeypatch):
    (tmp_path / "work").mkdir()
    (tmp_path / "victim.txt").write_bytes(b"original")
    monkeypatch.chdir(tmp_path / "work")
    return tmp_path


def files(path="."):
    return sorted(os.listdir(path))


def tar_gz(path, members, pax=None):
    """members: (name, payload) for files, (name, None) for folders, (name, "->target") for links;
    pax: extended records put on every member."""
    with tarfile.open(path, "w:gz", format=tarfile.PAX_FORMAT) as t:
        for name, payload in members:
            info = tarfile.TarInfo(name)
            info.pax_headers = pax or {}
            if payload is None:
                info.type = tarfile.DIRTYPE
                t.addfile(info)
            elif isinstance(payload, str):
                info.type = tarfile.SYMTYPE
                info.linkname = payload[2:]
                t.addfile(info)
            else:
                info.size = len(payload)
                t.addfile(info, io.BytesIO(payload))


def zip_of(path, members, corrupt=b""):
    """corrupt: stored bytes altered after writing, so that their member fails its CRC check."""
    with zipfile.ZipFile(path, "w") as z:
        for name, data in members:
            z.writestr(name, data)
    if corrupt:
        raw = open(path, "rb").read()
        open(path, "wb").write(raw.replace(corrupt, corrupt.upper()))


# --- links -------------------------------------------------------------------------


@pytest.mark.parametrize(
    "members",
    [
        [("d/downloaded.h5ad", "->../victim.txt")],  # inside extract_tmp, outside once moved
        [("d", None), ("d/sub", None), ("d/sub/link", "->../../../victim.txt"), ("d/data.h5ad", b"x")],
        [("d/data.h5ad", b"x"), ("d/h", "->data.h5ad")],
    ],
    ids=["link-moved-up", "folder-with-link", "inner-link"],
)
def test_tar_link_members_are_refused(work, members):
    tar_gz("downloaded", members)
    assert ingrath.decompress_tar_gz("downloaded") is None
    assert files() == ["downloaded"]
    # The second half of the attack: a gz written to the planted name.
    os.symlink("../victim.txt", "downloaded.h5ad")
    open("downloaded", "wb").write(gzip.compress(b"ATTACKER"))
    assert ingrath.decompress_gz("downloaded", "downloaded.h5ad") == "downloaded.h5ad"
    assert not os.path.islink("downloaded.h5ad") and open("downloaded.h5ad", "rb").read() == b"ATTACKER"
    assert (work / "victim.txt").read_bytes() == b"original"


def test_zip_link_member_is_refused(work, capsys):
    info = zipfile.ZipInfo("data.h5ad")
    info.external_attr = 0o120777 << 16
    with zipfile.ZipFile("a.zip", "w") as z:
        z.writestr(info, "../victim.txt")
    assert ingrath.decompress_zip("a.zip", "out") is None
    assert ingrath.decompress_zip_and_move("a.zip") is None
    assert capsys.readouterr().out == "오류 발생: archive member 'data.h5ad' is a link\n"
    assert files() == ["a.zip"]


# --- the extraction folder of zip_and_move -----------------------------------------


@pytest.mark.parametrize("extract_dir", [".", "./", "..", "{root}", "{root}/elsewhere", "sub/../.."])
def test_zip_and_move_keeps_the_working_directory(work, capsys, extract_dir):
    zip_of("a.zip", [("data.bin", b"x")])
    open("mine.txt", "w").write("keep")
    extract_dir = extract_dir.format(root=work)
    assert ingrath.decompress_zip_and_move("a.zip", extract_dir=extract_dir) is None
    assert "must be a folder inside the working directory" in capsys.readouterr().out
    assert files() == ["a.zip", "mine.txt"] and files(work) == ["victim.txt", "work"]


# --- limits ------------------------------------------------------------------------


def test_member_count_and_declared_size_limits(monkeypatch):
    monkeypatch.setattr(ingrath, "_max_extract_members", 5)
    tar_gz("many.tar.gz", [("f%d" % i, b"x") for i in range(6)])
    zip_of("many.zip", [("f%d" % i, b"x") for i in range(6)])
    assert ingrath.decompress_tar_gz("many.tar.gz") is None
    assert ingrath.decompress_zip("many.zip", "out") is None
    monkeypatch.setattr(ingrath, "_max_extract_members", 10000)
    monkeypatch.setattr(ingrath, "_max_extract_bytes", 1000)
    tar_gz("big.tar.gz", [("d/data.h5ad", b"\0" * 1001)])
    zip_of("big.zip", [("data.h5ad", b"\0" * 1001)])
    open("big.gz", "wb").write(gzip.compress(b"\0" * 1001))
    assert ingrath.decompress_tar_gz("big.tar.gz") is None
    assert ingrath.decompress_zip("big.zip") is None
    assert ingrath.decompress_zip_and_move("big.zip") is None
    assert ingrath.decompress_gz("big.gz", "data.h5ad") is None
    assert files() == ["big.gz", "big.tar.gz", "big.zip", "many.tar.gz", "many.zip"]
    # At the limit it goes through.
    open("ok.gz", "wb").write(gzip.compress(b"\0" * 1000))
    assert ingrath.decompress_gz("ok.gz", "data.h5ad") == "data.h5ad"


def test_tar_must_hold_one_file_and_zip_and_move_one_member(capsys):
    tar_gz("two.tar.gz", [("a.h5ad", b"1"), ("b.h5ad", b"2")])
    tar_gz("deep.tar.gz", [("a/b/c.h5ad", b"1")])
    assert ingrath.decompress_tar_gz("two.tar.gz") is None
    assert ingrath.decompress_tar_gz("deep.tar.gz") is None
    zip_of("many.zip", [("f%d" % i, b"x") for i in range(50)])
    assert ingrath.decompress_zip_and_move("many.zip") is None
    assert capsys.readouterr().out == "Zip 파일에 하나 이상의 파일이 포함되어 있습니다.\n"
    assert files() == ["deep.tar.gz", "many.zip", "two.tar.gz"]


# --- a member named like the archive ----------------------------------------------


def test_member_named_like_the_archive_is_kept(capsys):
    tar_gz("a.tar.gz", [("d/a.tar.gz", b"payload")])
    assert ingrath.decompress_tar_gz("a.tar.gz") == "a.tar.gz"
    assert open("a.tar.gz", "rb").read() == b"payload"
    zip_of("b.zip", [("b.zip", b"zipped")])
    assert ingrath.decompress_zip_and_move("b.zip") == "b.zip"
    assert open("b.zip", "rb").read() == b"zipped"
    open("c", "wb").write(gzip.compress(b"gz"))
    assert ingrath.decompress_gz("c", "c") == "c" and open("c", "rb").read() == b"gz"
    zip_of("d.zip", [("x", b"1"), ("d.zip", b"2")])
    assert ingrath.decompress_zip("d.zip") is None and zipfile.is_zipfile("d.zip")
    assert files() == ["a.tar.gz", "b.zip", "c", "d.zip"]


# --- interrupts --------------------------------------------------------------------


def raiser(exc):
    def f(*args, **kwargs):
        raise exc

    return f


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
def test_interrupted_download_propagates(monkeypatch, capsys, exc):
    monkeypatch.setattr(ingrath, "gdown", types.SimpleNamespace(download=raiser(exc)))
    for call in (
        lambda: ingrath.load_sample_data("some-id"),
        lambda: ingrath.load_velmar_processed_sample_data("some-id"),
        lambda: ingrath.load_velmar_processed_anndata("Lung"),
    ):
        with pytest.raises(exc):
            call()
    assert capsys.readouterr().out == ""


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

    tar_gz("a.tar.gz", [("d/data.h5ad", b"x")])

    def open_interrupted(*args):
        t = tarfile.open(*args)
        t.extractall = raiser(KeyboardInterrupt)
        return t

    monkeypatch.setattr(ingrath, "tarfile", types.SimpleNamespace(open=open_interrupted))
    with pytest.raises(KeyboardInterrupt):
        ingrath.decompress_tar_gz("a.tar.gz")
    assert files() == ["a.gz", "a.tar.gz"]


# --- the shipped placeholder registry ---------------------------------------------


def test_placeholder_registry_says_so(monkeypatch, capsys):
    monkeypatch.setattr(ingrath, "gdown", types.SimpleNamespace(download=raiser(OSError("404"))))
    assert ingrath.load_velmar_processed_sample_data("Lung") is None
    assert capsys.readouterr().out == NO_HOSTED_IDS
    # A mirror may serve the placeholder names: its failures are its own.
    monkeypatch.setattr(ingrath, "_download_url", "http://127.0.0.1:9/")
    assert ingrath.load_velmar_processed_sample_data("Lung") is None
    assert capsys.readouterr().out == ""


# --- the caller's files ------------------------------------------------------------


def test_zip_and_move_keeps_an_existing_extract_dir():
    os.mkdir("results")
    open("results/mine.txt", "w").write("keep")
    zip_of("a.zip", [("data.h5ad", b"x")])
    assert ingrath.decompress_zip_and_move("a.zip", "results") == "data.h5ad"
    assert files() == ["data.h5ad", "results"] and files("results") == ["mine.txt"]


@pytest.mark.parametrize("extract_dir", ["./", "out"])
def test_failed_zip_leaves_existing_files_alone(extract_dir):
    os.makedirs("out", exist_ok=True)
    open(os.path.join(extract_dir, "a.txt"), "w").write("mine")
    zip_of("a.zip", [("a.txt", b"theirs"), ("b.txt", b"damaged")], corrupt=b"damaged")
    assert ingrath.decompress_zip("a.zip", extract_dir) is None
    assert open(os.path.join(extract_dir, "a.txt")).read() == "mine"
    assert sorted(os.listdir(extract_dir)) == (["a.txt", "a.zip", "out"] if extract_dir == "./" else ["a.txt"])
    # Succeeding, it merges into the folder and replaces files of the same name.
    zip_of("b.zip", [("a.txt", b"theirs"), ("sub/c.txt", b"c")])
    assert ingrath.decompress_zip("b.zip", "out") == "out"
    assert files("out") == ["a.txt", "sub"] and open("out/a.txt").read() == "theirs"


def test_gz_leaves_another_calls_partial_file_alone():
    open("data.h5ad.part", "w").write("another call's output")
    open("a.gz", "wb").write(gzip.compress(b"mine"))
    assert ingrath.decompress_gz("a.gz", "data.h5ad") == "data.h5ad"
    assert open("data.h5ad", "rb").read() == b"mine"
    assert files() == ["data.h5ad", "data.h5ad.part"] and open("data.h5ad.part").read() == "another call's output"


# --- tar headers -------------------------------------------------------------------


def test_tar_member_limit_stops_reading(monkeypatch):
    opened = []

    def spy_open(*args):
        opened.append(tarfile.open(*args))
        return opened[-1]

    monkeypatch.setattr(ingrath, "_max_extract_members", 5)
    monkeypatch.setattr(ingrath, "tarfile", types.SimpleNamespace(open=spy_open))
    tar_gz("many.tar.gz", [("d%d" % i, None) for i in range(50)])
    assert ingrath.decompress_tar_gz("many.tar.gz") is None
    assert len(opened[0].members) <= 6


def test_huge_extended_header_is_refused():
    tar_gz("bomb.tar.gz", [("data.h5ad", b"x")], pax={"comment": "x" * (2 << 20)})
    assert ingrath.decompress_tar_gz("bomb.tar.gz") is None
    assert files() == ["bomb.tar.gz"]
    # Long names in extended records still go through.
    tar_gz("long.tar.gz", [("d" * 200 + "/data.h5ad", b"x")], pax={"comment": "c" * 1000})
    assert ingrath.decompress_tar_gz("long.tar.gz") == "data.h5ad"


def test_member_names_with_control_characters_are_refused(capsys):
    name = "evil\nFile saved to: data.h5ad"
    tar_gz("a.tar.gz", [(name, b"x")])
    zip_of("a.zip", [(name, b"x")])
    assert ingrath.decompress_tar_gz("a.tar.gz") is None
    assert ingrath.decompress_zip("a.zip") is None
    assert ingrath.decompress_zip_and_move("a.zip") is None
    assert capsys.readouterr().out == "오류 발생: archive member %r has a control character in its name\n" % name
    assert files() == ["a.tar.gz", "a.zip"]
