"""The release command, scripts/release.sh: the shipped 32-bit setup.exe is small, builds
reproducibly, and is signed with Authenticode (SHA-256) when given a certificate and its key.

    /usr/bin/python3 -m pytest -v tests/release

Each release is a clean build of the working tree (about ten seconds each).
"""

import hashlib
import re
import struct
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
RELEASE = REPO / "scripts" / "release.sh"
HOST = "www.brelmora.example"
SIZE_LIMIT = 128 * 1024  # bytes, icon and every resource included


def release(out: Path, *extra: str, check: bool = True) -> subprocess.CompletedProcess:
    result = subprocess.run(["bash", str(RELEASE), *extra, "--out", str(out)],
                            capture_output=True, text=True, timeout=600)
    if check:
        assert result.returncode == 0, f"release failed:\n{result.stdout}\n{result.stderr}"
    return result


def authenticode_digest(data: bytes) -> str:
    """SHA-256 over the image as Authenticode hashes it: all but the checksum field, the
    certificate table's directory entry and the certificate table itself."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    checksum = opt + 64
    security = opt + (96 if magic == 0x10B else 112) + 4 * 8
    table, table_size = struct.unpack_from("<II", data, security)
    end = table if table_size else len(data)
    digest = hashlib.sha256()
    digest.update(data[:checksum])
    digest.update(data[checksum + 4:security])
    digest.update(data[security + 8:end])
    return digest.hexdigest().upper()


@pytest.fixture(scope="module")
def first(tmp_path_factory):
    out = tmp_path_factory.mktemp("release-a")
    result = release(out, "--host", HOST)
    return out / "setup.exe", result.stdout


def test_the_release_is_small_and_reports_its_size_hash_and_bytes(first):
    exe, stdout = first
    data = exe.read_bytes()
    print(f"\nrelease setup.exe: {len(data)} bytes, limit {SIZE_LIMIT} "
          f"({100.0 * len(data) / SIZE_LIMIT:.1f}% of it)\n{stdout}")
    assert len(data) <= SIZE_LIMIT
    assert data[:2] == b"MZ" and struct.unpack_from("<H", data, struct.unpack_from(
        "<I", data, 0x3C)[0] + 4)[0] == 0x014C, "not a 32-bit x86 executable"
    assert f"size: {len(data)} bytes" in stdout
    assert f"sha256: {hashlib.sha256(data).hexdigest()}" in stdout
    assert HOST.encode("utf-16-le") in data, "the given host is not compiled in"
    # The breakdown accounts for every byte of the file.
    parts = re.findall(r"^  .*?\s(\d+)\s+[\d.]+%$", stdout, re.M)
    assert parts and sum(map(int, parts)) == len(data), stdout


def test_two_clean_builds_in_different_folders_are_identical(first, tmp_path):
    exe, _ = first
    second = tmp_path / "elsewhere" / "deeper"
    release(second, "--host", HOST)
    a, b = exe.read_bytes(), (second / "setup.exe").read_bytes()
    if a != b:
        offset = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
        pytest.fail(f"builds differ: {len(a)} and {len(b)} bytes, first at offset 0x{offset:x}")


def test_a_signed_release_carries_a_sha256_signature_over_the_same_program(first, tmp_path):
    exe, _ = first
    cert, key = tmp_path / "cert.pem", tmp_path / "key.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Throwaway Test Signer", "-keyout", str(key), "-out", str(cert)],
                   check=True, capture_output=True, timeout=120)
    out = tmp_path / "signed"
    stdout = release(out, "--host", HOST, "--cert", str(cert), "--key", str(key)).stdout
    signed = out / "setup.exe"
    assert ", signed" in stdout

    verify = subprocess.run(["osslsigncode", "verify", "-CAfile", str(cert), "-in", str(signed)],
                            capture_output=True, text=True, timeout=120)
    report = verify.stdout + verify.stderr
    assert verify.returncode == 0, report
    assert re.search(r"Message digest algorithm\s*:\s*SHA256", report), report
    current = re.search(r"Current message digest\s*:\s*([0-9A-F]+)", report)
    calculated = re.search(r"Calculated message digest\s*:\s*([0-9A-F]+)", report)
    assert current and calculated, report
    # The signed digest is the file's own, and the file is the unsigned release plus a signature.
    assert current.group(1) == calculated.group(1)
    assert current.group(1) == authenticode_digest(exe.read_bytes())
    stripped = tmp_path / "stripped.exe"
    subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed), "-out", str(stripped)],
                   check=True, capture_output=True, timeout=120)
    assert stripped.read_bytes() == exe.read_bytes()


def test_bad_input_is_refused_with_a_reason_and_touches_nothing(tmp_path):
    keep = tmp_path / "not-a-build"
    keep.mkdir()
    (keep / "notes.txt").write_text("mine")
    missing = str(tmp_path / "missing.pem")
    cases = [
        ([], tmp_path / "o1", "no --host"),
        (["--host", "http://www.example.com/"], tmp_path / "o2", "not a host name"),
        (["--host", HOST, "--cert", missing], tmp_path / "o3", "both --cert and --key"),
        (["--host", HOST, "--cert", missing, "--key", missing], tmp_path / "o4",
         "cannot read the certificate"),
        (["--host", HOST], keep, "not a build folder"),
    ]
    for args, out, reason in cases:
        result = release(out, *args, check=False)
        assert result.returncode != 0, args
        assert reason in result.stderr, (args, result.stderr)
        assert out == keep or not out.exists(), args
    assert (keep / "notes.txt").read_text() == "mine"
