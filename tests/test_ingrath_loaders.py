"""Module frame, download through gdown and the data-set loaders, against a
local HTTP server that stands in for the hosting service."""

import gzip
import inspect
import io
import os
import re
import tarfile
import threading
import types
import urllib.parse
import zipfile
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import anndata
import gdown
import numpy as np
import pandas as pd
import pytest

from orvalen import ingrath

SAMPLE_KEYS = "Breast, BC, BRCA, Colitis-hs, Colitis-mm, Colon, CRC, Intestine, Lung, NSCLC, Melanoma, Pancreas, PDAC"
PROCESSED_KEYS = (
    "Lung, NSCLC, Colon, CRC, Breast, BC, BRCA, Pancreas, PDAC, Colitis-mm, Colitis-hs, "
    "Colitis-mm-full, Brain, Liver(normal), Kidney(normal)"
)
ID_NOT_FOUND = "ERROR: The file_id you requested does not exist.\nYou can try one of %s. \n"
SAMPLE_TYPE_ERROR = (
    "ERROR: The file_type might be a wrong one.\n"
    "You can try with one of tar.gz or gz for file_type argument. \n"
    "Or, You can try one of %s for file_id_or_tissue_name. \n" % SAMPLE_KEYS
)
NO_HOSTED_IDS = (
    "This installation has no hosted identifiers (orvalen/ingrath_registry.json holds "
    "placeholders); set them as described in docs/deployment.md.\n"
)
PROCESSED_TYPE_ERROR = (
    "ERROR: The file_type might be a wrong one.\nYou can try with one of tar.gz, zip, or gz for file_type argument. \n"
)


# --- the stand-in hosting service -------------------------------------------------


class Truncated(bytes):
    """A payload whose connection is closed half-way through the body."""


class Server:
    def __init__(self):
        self.files = {}
        files = self.files

        class Handler(BaseHTTPRequestHandler):
            def do_GET(self):
                query = urllib.parse.parse_qs(urllib.parse.urlparse(self.path).query)
                body = files.get(query.get("id", [""])[0])
                if body is None:
                    self.send_error(404, "no such file")
                    return
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if isinstance(body, Truncated):
                    self.wfile.write(body[: len(body) // 2])
                    self.wfile.flush()
                    self.close_connection = True
                    return
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        # gdown fetches any address that is not on the hosting service's own
        # hosts with one plain GET, the identifier travelling in the query.
        self.base = "http://127.0.0.1:%d/uc?export=download&id=" % self.httpd.server_address[1]

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join()


@pytest.fixture(scope="module")
def server():
    s = Server()
    yield s
    s.close()


@pytest.fixture(autouse=True)
def workdir(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    return tmp_path


@pytest.fixture
def site(server, monkeypatch):
    monkeypatch.setattr(ingrath, "_download_url", server.base)
    server.files.clear()
    return server


@pytest.fixture(scope="module")
def gdown_raises_on_404(server, tmp_path_factory):
    # Older gdown releases save an error page like any body; newer ones raise.
    target = tmp_path_factory.mktemp("probe") / "probe"
    try:
        gdown.download(server.base + "absent", str(target), quiet=True)
    except Exception:
        return True
    return False


# --- data -------------------------------------------------------------------------


@pytest.fixture(scope="module")
def reference(tmp_path_factory):
    X = np.arange(15, dtype=np.float32).reshape(5, 3)
    obs = pd.DataFrame({"sample": ["s1", "s1", "s2", "s2", "s3"]}, index=["c%d" % i for i in range(5)])
    var = pd.DataFrame(index=["g1", "g2", "g3"])
    adata = anndata.AnnData(X=X, obs=obs, var=var)
    path = tmp_path_factory.mktemp("ref") / "data.h5ad"
    adata.write_h5ad(path)
    return adata, path.read_bytes()


def zip_of(name, data):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        z.writestr(name, data)
    return buf.getvalue()


def tar_gz_of(name, data):
    buf = io.BytesIO()
    with tarfile.open(fileobj=buf, mode="w:gz") as t:
        info = tarfile.TarInfo(name)
        info.size = len(data)
        t.addfile(info, io.BytesIO(data))
    return buf.getvalue()


def archive(kind, data, name="data.h5ad"):
    return {
        "zip": lambda: zip_of(name, data),
        "gz": lambda: gzip.compress(data),
        "tar.gz": lambda: tar_gz_of(name, data),
    }[kind]()


def remaining():
    # gdown keeps the bytes of a broken transfer in its own partial file for
    # resuming; that file is the download library's, not ours.
    return sorted(f for f in os.listdir(".") if not re.fullmatch(r"downloaded.+(\.part|tmp)", f))


def assert_same(adata, ref):
    assert isinstance(adata, anndata.AnnData)
    np.testing.assert_array_equal(np.asarray(adata.X), ref.X)
    pd.testing.assert_frame_equal(adata.obs, ref.obs)
    pd.testing.assert_frame_equal(adata.var, ref.var)


# --- frame ------------------------------------------------------------------------


def test_namespace_order_and_signatures():
    # Libraries bind on first read, each at its place; read them all, whatever ran before.
    for n in dir(ingrath):
        getattr(ingrath, n)
    names = [n for n in vars(ingrath) if not n.startswith("_")]
    assert names == [
        "gdown",
        "gzip",
        "shutil",
        "os",
        "tarfile",
        "anndata",
        "zipfile",
        "download_from_google_drive",
        "decompress_gz",
        "decompress_zip",
        "decompress_zip_and_move",
        "decompress_tar_gz",
        "sample_data_fid_dict_gz",
        "sample_data_fid_dict",
        "load_h5ad",
        "load_anndata",
        "load_sample_data",
        "processed_sample_data_fid_dict",
        "load_velmar_processed_anndata",
        "load_velmar_processed_sample_data",
    ]
    firsts = {n: n + str(inspect.signature(getattr(ingrath, n))) for n in names[7:] if callable(getattr(ingrath, n))}
    assert firsts == {
        "download_from_google_drive": "download_from_google_drive(file_id, out_path='downloaded')",
        "decompress_gz": "decompress_gz(file_in, file_out, remove_gz=True)",
        "decompress_zip": "decompress_zip(file_in, extract_dir='./', remove_zip=True)",
        "decompress_zip_and_move": "decompress_zip_and_move(file_in, extract_dir='temp_extract', remove_zip=True)",
        "decompress_tar_gz": "decompress_tar_gz(file_in, remove_org=True)",
        "load_h5ad": "load_h5ad(tissue, file_type='zip')",
        "load_anndata": "load_anndata(tissue, file_type='zip')",
        "load_sample_data": "load_sample_data(file_id_or_tissue_name, file_type='zip')",
        "load_velmar_processed_anndata": "load_velmar_processed_anndata(tissue=None, file_type='tar.gz')",
        "load_velmar_processed_sample_data": "load_velmar_processed_sample_data(file_id_or_tissue_name=None, file_type='tar.gz')",  # noqa: E501
    }
    with pytest.raises(TypeError):
        ingrath.load_h5ad()
    with pytest.raises(TypeError):
        ingrath.decompress_tar_gz("a", True, "extra")


def test_registry_tables():
    groups = lambda table: [sorted(k for k in table if table[k] == v) for v in dict.fromkeys(table.values())]
    sample, sample_gz = ingrath.sample_data_fid_dict, ingrath.sample_data_fid_dict_gz
    processed = ingrath.processed_sample_data_fid_dict
    assert ", ".join(sample) == SAMPLE_KEYS and list(sample_gz) == list(sample)
    assert ", ".join(processed) == PROCESSED_KEYS
    assert (
        groups(sample)
        == groups(sample_gz)
        == [
            ["BC", "BRCA", "Breast"],
            ["Colitis-hs"],
            ["Colitis-mm"],
            ["CRC", "Colon", "Intestine"],
            ["Lung", "NSCLC"],
            ["Melanoma"],
            ["PDAC", "Pancreas"],
        ]
    )
    assert groups(processed) == [
        ["Lung", "NSCLC"],
        ["CRC", "Colon"],
        ["BC", "BRCA", "Breast"],
        ["PDAC", "Pancreas"],
        ["Colitis-mm"],
        ["Colitis-hs"],
        ["Colitis-mm-full"],
        ["Brain"],
        ["Liver(normal)"],
        ["Kidney(normal)"],
    ]
    ids = set(sample.values()) | set(sample_gz.values()) | set(processed.values())
    assert len(ids) == 24 and all(isinstance(i, str) and len(i) == 33 for i in ids)


def raiser(exc):
    def f(*args, **kwargs):
        raise exc

    return f


def test_placeholder_registry_says_so(monkeypatch, capsys):
    monkeypatch.setattr(ingrath, "gdown", types.SimpleNamespace(download=raiser(OSError("404"))))
    assert ingrath.load_velmar_processed_sample_data("Lung") is None
    assert capsys.readouterr().out == NO_HOSTED_IDS
    # A mirror may serve the placeholder names: its failures are its own.
    monkeypatch.setattr(ingrath, "_download_url", "http://127.0.0.1:9/")
    assert ingrath.load_velmar_processed_sample_data("Lung") is None
    assert capsys.readouterr().out == ""


# --- download ---------------------------------------------------------------------


def test_download_writes_the_file_and_returns_out_path(site):
    site.files["12345"] = b"payload"
    assert ingrath.download_from_google_drive(12345) == "downloaded"  # numeric identifiers as text
    assert open("downloaded", "rb").read() == b"payload"
    site.files["abc"] = b"other"
    assert ingrath.download_from_google_drive("abc", out_path="elsewhere") == "elsewhere"
    assert remaining() == ["downloaded", "elsewhere"]


def test_download_calls_the_bound_gdown(monkeypatch):
    calls = []
    fake = types.SimpleNamespace(download=lambda *a, **k: calls.append((a, k)) or a[1])
    monkeypatch.setattr(ingrath, "gdown", fake)
    monkeypatch.setattr(ingrath, "_download_url", "http://mirror.invalid/get?id=")
    assert ingrath.download_from_google_drive(7, "out") == "out"
    assert calls == [(("http://mirror.invalid/get?id=7", "out"), {"quiet": False})]


def test_download_that_saves_nothing_raises(monkeypatch, capsys):
    # A download library that answers None has saved nothing: that must not
    # pass as a file on disk.
    monkeypatch.setattr(ingrath, "gdown", types.SimpleNamespace(download=lambda *a, **k: None))
    with pytest.raises(RuntimeError, match="Download failed"):
        ingrath.download_from_google_drive("x")
    assert ingrath.load_sample_data("x") is None
    assert ingrath.load_velmar_processed_anndata("Lung") is None
    assert capsys.readouterr().out == ID_NOT_FOUND % SAMPLE_KEYS + NO_HOSTED_IDS
    assert remaining() == []


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


def test_download_failures_raise(site):
    site.files["cut"] = Truncated(b"x" * 4096)
    with pytest.raises(Exception):
        ingrath.download_from_google_drive("cut")
    assert remaining() == []


def test_http_404(site, capsys, gdown_raises_on_404):
    assert ingrath.load_sample_data("absent") is None
    out = capsys.readouterr().out
    if gdown_raises_on_404:
        assert out == ID_NOT_FOUND % SAMPLE_KEYS
        assert remaining() == []
    else:
        # The error page is saved and fails to unpack.
        assert out == "오류 발생: File is not a zip file\n" + SAMPLE_TYPE_ERROR
        assert remaining() == ["downloaded"]


# --- end to end -------------------------------------------------------------------


@pytest.mark.parametrize("kind", ["zip", "gz", "tar.gz"])
def test_load_sample_data_by_tissue_and_identifier(site, capsys, reference, kind):
    ref, blob = reference
    site.files[ingrath.sample_data_fid_dict["NSCLC"]] = archive(kind, blob)
    assert_same(ingrath.load_sample_data("NSCLC", kind), ref)
    produced = {"zip": "data.h5ad", "gz": "NSCLC.h5ad", "tar.gz": "data.h5ad"}[kind]
    assert remaining() == [produced]
    assert capsys.readouterr().out == ("" if kind == "zip" else "File saved to: %s\n" % produced)
    os.remove(produced)

    site.files["1raw-identifier-not-in-any-table"] = archive(kind, blob)
    assert_same(ingrath.load_sample_data("1raw-identifier-not-in-any-table", file_type=kind), ref)
    produced = {"zip": "data.h5ad", "gz": "downloaded.h5ad", "tar.gz": "data.h5ad"}[kind]
    assert remaining() == [produced]
    assert capsys.readouterr().out == ("" if kind == "zip" else "File saved to: %s\n" % produced)


@pytest.mark.parametrize("kind", ["tar.gz", "zip", "gz"])
def test_load_processed_by_tissue_and_identifier(site, capsys, reference, kind):
    ref, blob = reference
    site.files[ingrath.processed_sample_data_fid_dict["Lung"]] = archive(kind, blob, "folder/data.h5ad")
    assert_same(ingrath.load_velmar_processed_sample_data("Lung", kind), ref)
    produced = {"zip": "data.h5ad", "gz": "Lung.h5ad", "tar.gz": "data.h5ad"}[kind]
    assert remaining() == [produced]
    assert capsys.readouterr().out == ("" if kind == "zip" else "File saved to: %s\n" % produced)
    os.remove(produced)

    site.files["raw"] = archive(kind, blob)
    assert_same(ingrath.load_velmar_processed_sample_data("raw", kind), ref)
    produced = {"zip": "data.h5ad", "gz": "downloaded.h5ad", "tar.gz": "data.h5ad"}[kind]
    assert remaining() == [produced]


def test_load_h5ad_returns_the_path_and_defaults_to_zip(site, capsys, reference):
    ref, blob = reference
    site.files[ingrath.sample_data_fid_dict["Colon"]] = archive("zip", blob, "colon.h5ad")
    assert ingrath.load_h5ad("Intestine") == "colon.h5ad"
    site.files[ingrath.sample_data_fid_dict["Colon"]] = archive("gz", blob)
    assert ingrath.load_h5ad("CRC", "gz") == "CRC.h5ad"
    assert remaining() == ["CRC.h5ad", "colon.h5ad"]
    site.files[ingrath.processed_sample_data_fid_dict["Brain"]] = archive("tar.gz", blob)
    assert_same(ingrath.load_velmar_processed_anndata("Brain"), ref)
    assert capsys.readouterr().out == "File saved to: CRC.h5ad\nFile saved to: data.h5ad\n"


def test_late_binding_of_tables_and_functions(site, monkeypatch, reference):
    ref, blob = reference
    monkeypatch.setitem(ingrath.sample_data_fid_dict, "Mine", "my-id")
    site.files["my-id"] = archive("zip", blob)
    assert_same(ingrath.load_sample_data("Mine"), ref)
    seen = []
    monkeypatch.setattr(ingrath, "load_h5ad", lambda tissue, file_type: seen.append((tissue, file_type)))
    assert ingrath.load_sample_data("Lung", "gz") is None
    assert seen == [("Lung", "gz")]


# --- the failure table, row by row -------------------------------------------------


def test_name_not_in_table(site, capsys):
    assert ingrath.load_h5ad("lung") is None
    assert ingrath.load_anndata(None) is None
    assert ingrath.load_velmar_processed_anndata() is None
    assert ingrath.load_velmar_processed_anndata("Melanoma") is None
    out = capsys.readouterr().out
    assert out == (
        ("tissue must be one of %s. \n" % SAMPLE_KEYS) * 2 + ("tissue must be one of %s. \n" % PROCESSED_KEYS) * 2
    )
    assert remaining() == []


def test_download_raises(site, capsys):
    cut = Truncated(b"x" * 4096)
    site.files.update(
        {ingrath.sample_data_fid_dict["Lung"]: cut, "cut": cut, ingrath.processed_sample_data_fid_dict["Lung"]: cut}
    )
    with pytest.raises(Exception):
        ingrath.load_h5ad("Lung")
    with pytest.raises(Exception):
        ingrath.load_anndata("Lung", "tar.gz")
    assert capsys.readouterr().out == ""
    assert ingrath.load_sample_data("cut") is None
    assert capsys.readouterr().out == ID_NOT_FOUND % SAMPLE_KEYS
    assert ingrath.load_velmar_processed_anndata("NSCLC") is None
    assert capsys.readouterr().out == ""
    assert ingrath.load_velmar_processed_sample_data("cut") is None
    assert capsys.readouterr().out == ID_NOT_FOUND % PROCESSED_KEYS
    assert remaining() == []


def test_file_type_matches_no_branch(site, capsys, reference):
    _, blob = reference
    site.files.update(
        {
            ingrath.sample_data_fid_dict["Lung"]: archive("zip", blob),
            "id": archive("zip", blob),
            ingrath.processed_sample_data_fid_dict["Lung"]: archive("zip", blob),
        }
    )
    assert ingrath.load_h5ad("Lung", "rar") is None
    assert ingrath.load_anndata("Lung", file_type=None) is None
    assert capsys.readouterr().out == ""
    assert ingrath.load_sample_data("id", "ZIP") is None
    assert capsys.readouterr().out == SAMPLE_TYPE_ERROR
    assert ingrath.load_velmar_processed_anndata("Lung", 3) is None
    assert capsys.readouterr().out == ""
    assert ingrath.load_velmar_processed_sample_data("id", "tgz") is None
    assert capsys.readouterr().out == PROCESSED_TYPE_ERROR
    assert remaining() == ["downloaded"]  # downloaded every time, never unpacked


def test_unpacking_returns_none(site, capsys):
    site.files.update(
        {
            ingrath.sample_data_fid_dict["Lung"]: b"garbage",
            "id": b"garbage",
            ingrath.processed_sample_data_fid_dict["Lung"]: b"garbage",
        }
    )
    with pytest.raises(TypeError):
        ingrath.load_h5ad("Lung")
    assert capsys.readouterr().out == "오류 발생: File is not a zip file\n"
    assert ingrath.load_sample_data("id") is None
    assert capsys.readouterr().out == "오류 발생: File is not a zip file\n" + SAMPLE_TYPE_ERROR
    assert ingrath.load_sample_data("id", "tar.gz") is None
    assert capsys.readouterr().out == SAMPLE_TYPE_ERROR
    assert ingrath.load_velmar_processed_anndata("Lung") is None
    assert capsys.readouterr().out == ""
    with pytest.raises(TypeError):
        ingrath.load_velmar_processed_sample_data("id")
    assert capsys.readouterr().out == ""
    assert remaining() == ["downloaded"]


def test_h5ad_unreadable(site, capsys):
    junk = b"this is not an h5ad file"
    site.files.update(
        {
            ingrath.sample_data_fid_dict["Lung"]: archive("gz", junk),
            "id": archive("gz", junk),
            ingrath.processed_sample_data_fid_dict["Lung"]: archive("tar.gz", junk),
            "tid": archive("tar.gz", junk),
        }
    )
    with pytest.raises(Exception):
        ingrath.load_h5ad("Lung", "gz")
    assert capsys.readouterr().out == "File saved to: Lung.h5ad\n"
    assert ingrath.load_sample_data("id", "gz") is None
    assert capsys.readouterr().out == (
        "File saved to: downloaded.h5ad\nERROR: Cannot read the downloaded file.\n"
        "You can try one of %s for file_id_or_tissue_name. \n" % SAMPLE_KEYS
    )
    with pytest.raises(Exception):
        ingrath.load_velmar_processed_anndata("Lung")
    with pytest.raises(Exception):
        ingrath.load_velmar_processed_sample_data("tid")
    assert capsys.readouterr().out == "File saved to: data.h5ad\n" * 2
    assert remaining() == ["Lung.h5ad", "data.h5ad", "downloaded.h5ad"]


def test_deployment_data_file_is_read_at_import(tmp_path):
    # A copy of the installed package with its own data file.
    import json
    import shutil
    import subprocess
    import sys

    import orvalen

    package = tmp_path / "site" / "orvalen"
    shutil.copytree(os.path.dirname(orvalen.__file__), package, ignore=shutil.ignore_patterns("__pycache__"))
    data_file = package / "ingrath_registry.json"
    data = json.loads(data_file.read_text(encoding="utf-8"))
    data["download_url"] = "http://mirror.invalid/files/"
    data["processed_sample_data_fid_dict"]["Brain"] = "brain-archive"
    data_file.write_text(json.dumps(data), encoding="utf-8")
    probe = (
        "from orvalen import ingrath as m; "
        "print(m._download_url, m.processed_sample_data_fid_dict['Brain'], m.__file__.startswith(%r))" % str(package)
    )
    env = dict(os.environ, PYTHONPATH=str(tmp_path / "site"))
    run = lambda: subprocess.run([sys.executable, "-c", probe], env=env, capture_output=True, text=True)
    done = run()
    assert done.stdout.split() == ["http://mirror.invalid/files/", "brain-archive", "True"], done.stderr

    data["sample_data_fid_dict"]["BC"] = data["sample_data_fid_dict"].pop("Breast")
    data_file.write_text(json.dumps(data), encoding="utf-8")
    done = run()
    assert done.returncode != 0
    assert 'orvalen/ingrath_registry.json: table "sample_data_fid_dict" has no identifier for "Breast"' in done.stderr
