"""The server's container image as a cluster would run it, under podman: the OCI archive loaded into
private storage, the Kubernetes manifest played by `podman kube play`, the real game program shown
the server's simulated players through the hostPort, /metrics and /healthz through the metrics port,
the server confined as the manifest asks, and nothing left after `podman kube down`. Then the
list's image, run as its manifest confines it, answering /healthz and /v1/games.

Run by scripts/check-image.sh, as root, in a network and mount namespace of its own."""

import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import urllib.error
import urllib.request

import pytest
import yaml

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "robustness"))
from support import ClientProcess, VirtualX, client_env, title_count, wait_for  # noqa: E402

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
ARCHIVE = os.environ.get("BRASSMOOR_IMAGE_ARCHIVE", "")
LIST_ARCHIVE = os.environ.get("BRASSMOOR_LIST_IMAGE_ARCHIVE", "")
STATE = os.environ.get("BRASSMOOR_PODMAN_DIR", "")
# podman refuses a run root longer than 50 characters: scripts/check-image.sh makes a short one.
RUN_ROOT = os.environ.get("BRASSMOOR_PODMAN_RUN_ROOT", f"{STATE}/run")
KUBERNETES = os.path.join(ROOT, "packaging", "kubernetes", "brassmoor-server.yaml")
LIST_KUBERNETES = os.path.join(ROOT, "packaging", "kubernetes", "brassmoor-list.yaml")
AGONES = [os.path.join(ROOT, "packaging", "agones", name) for name in ("gameserver.yaml", "fleet.yaml")]
CONTAINER = "brassmoor-server-pod-0-server"  # podman's name for the Deployment's first pod's container
METRICS = "http://127.0.0.1:40124"


def project_version():
    with open(os.path.join(ROOT, "CMakeLists.txt")) as f:
        return re.search(r"project\(Brassmoor VERSION ([0-9.]+)", f.read()).group(1)


def podman(*args):
    command = ["podman", "--root", f"{STATE}/root", "--runroot", RUN_ROOT, "--storage-driver", "vfs",
               "--tmpdir", f"{STATE}/tmp", "--network-config-dir", f"{STATE}/networks", *args]
    env = dict(os.environ, CONTAINERS_CONF=os.path.join(ROOT, "packaging", "container", "containers.conf"))
    result = subprocess.run(command, capture_output=True, text=True, timeout=120, env=env)
    if result.returncode != 0:
        raise AssertionError(f"podman {' '.join(args)} failed: {result.stderr.strip()}")
    return result.stdout


def layer_names(archive):
    """Every path in the image's layers, read from the OCI archive itself."""
    with tarfile.open(archive) as outer:
        def blob(digest):
            return outer.extractfile("blobs/sha256/" + digest.split(":")[1])
        manifest = json.load(blob(json.load(outer.extractfile("index.json"))["manifests"][0]["digest"]))
        names = set()
        for layer in manifest["layers"]:
            with tarfile.open(fileobj=blob(layer["digest"]), mode="r:*") as inner:
                names.update(name.lstrip("./") for name in inner.getnames())
        return names


def http_get(path, base=METRICS):
    """(status, body) of a GET on the metrics port (or `base`), or None while nothing answers."""
    try:
        with urllib.request.urlopen(base + path, timeout=2) as answer:
            return answer.status, answer.read().decode()
    except urllib.error.HTTPError as error:
        return error.code, ""
    except OSError:
        return None


def proc_fields(pid):
    with open(f"/proc/{pid}/status") as f:
        return dict(line.rstrip("\n").split(":\t", 1) for line in f)


def test_the_manifest_runs_a_game_under_podman(tmp_path):
    if os.geteuid() != 0 or not shutil.which("podman"):
        pytest.skip("needs root and podman")
    assert ARCHIVE and STATE, "set BRASSMOOR_IMAGE_ARCHIVE and BRASSMOOR_PODMAN_DIR (scripts/check-image.sh does)"
    image = f"localhost/brassmoor-server:{project_version()}"

    # The manifests name the image as the build tags it, and confine the server alike.
    manifests = [yaml.safe_load(open(path)) for path in [KUBERNETES, *AGONES]]
    pods = [manifests[0]["spec"]["template"]["spec"], manifests[1]["spec"]["template"]["spec"],
            manifests[2]["spec"]["template"]["spec"]["template"]["spec"]]
    assert [pod["containers"][0]["image"] for pod in pods] == [image] * 3
    assert all(pod["containers"][0]["securityContext"] == pods[0]["containers"][0]["securityContext"] for pod in pods)

    # No shell, no package manager, no program at all but the server.
    names = layer_names(ARCHIVE)
    assert {"usr/games/brassmoor-server", "etc/ssl/certs/ca-certificates.crt"} <= names  # for https:// lists
    assert [name for name in names if re.match(r"(usr/)?s?bin(/|$)", name)] == []

    shutil.rmtree(STATE, ignore_errors=True)
    assert f"Loaded image: {image}" in podman("load", "--input", ARCHIVE)
    inspected = json.loads(podman("image", "inspect", image))[0]
    assert inspected["Config"]["User"] == "65534:65534"
    assert set(inspected["Config"]["ExposedPorts"]) == {"40123/udp", "40124/tcp"}
    labels = inspected["Config"]["Labels"]
    assert labels["org.opencontainers.image.version"] == project_version()
    assert all(labels.get(f"org.opencontainers.image.{key}") for key in ("title", "revision", "source", "licenses"))
    assert inspected["Size"] <= 40_000_000, inspected["Size"]

    # kube play takes a folder named like a container for a build context: start it from an empty one.
    empty = tmp_path / "empty"
    empty.mkdir()
    os.chdir(empty)
    xserver = client = None
    try:
        podman("kube", "play", KUBERNETES)
        # 200 once the tick loop runs (503 would mean it is stuck).
        wait_for(lambda: (http_get("/healthz") or (None,))[0] == 200, timeout=30,
                 what="/healthz answering 200 through the metrics port")

        # The server as the manifest confines it: user 65534, no capabilities, no new privileges,
        # and a read-only root.
        pid = int(podman("inspect", "--format", "{{.State.Pid}}", CONTAINER))
        fields = proc_fields(pid)
        assert fields["Uid"].split() == ["65534"] * 4 and fields["Gid"].split() == ["65534"] * 4
        assert int(fields["CapEff"], 16) == 0 and int(fields["CapBnd"], 16) == 0
        assert fields["NoNewPrivs"].strip() == "1"
        with open(f"/proc/{pid}/mountinfo") as f:
            root = next(line.split() for line in f if line.split()[4] == "/")
        assert root[5].split(",")[0] == "ro", root

        # The real game program on this machine reaches the pod through the hostPort.
        xserver = VirtualX()
        client = ClientProcess(["127.0.0.1"], env=client_env(xserver.name))
        wait_for(lambda: title_count(xserver.title()) == 4, timeout=30,
                 what=f"the title counting the manifest's 4 simulated players (last title {xserver.title()!r})")

        status, text = http_get("/metrics")
        assert status == 200
        values = dict(re.findall(r"^(brassmoor_[a-z_]+) (\S+)$", text, re.M))
        assert float(values["brassmoor_bots"]) == 4 and float(values["brassmoor_clients"]) == 1, values
        assert re.search(r'^brassmoor_build_info\{version="%s"\} 1$' % re.escape(project_version()), text, re.M)
    finally:
        if client:
            client.stop()
        if xserver:
            xserver.stop()
        podman("kube", "down", KUBERNETES)
    assert podman("ps", "--all", "--quiet") == "" and podman("pod", "ps", "--quiet") == ""
    wait_for(lambda: not os.path.exists(f"/proc/{pid}"), timeout=10, what="the server to be gone")


def test_the_list_image_answers_confined_as_its_manifest_asks():
    if os.geteuid() != 0 or not shutil.which("podman"):
        pytest.skip("needs root and podman")
    image, base = f"localhost/brassmoor-list:{project_version()}", "http://127.0.0.1:8080"
    containers = [next(yaml.safe_load_all(open(path)))["spec"]["template"]["spec"]["containers"][0]
                  for path in (LIST_KUBERNETES, KUBERNETES)]
    assert containers[0]["image"] == image and containers[0]["securityContext"] == containers[1]["securityContext"]
    assert f"Loaded image: {image}" in podman("load", "--input", LIST_ARCHIVE)
    assert json.loads(podman("image", "inspect", image))[0]["Config"]["User"] == "65534:65534"
    podman("run", "--detach", "--name", "list", "--read-only", "--cap-drop", "all", "--security-opt",
           "no-new-privileges", "--publish", "127.0.0.1:8080:8080", image)
    try:
        wait_for(lambda: (http_get("/healthz", base) or (None,))[0] == 200, timeout=30, what="the list's /healthz")
        assert http_get("/v1/games", base) == (200, '{"games":[]}\n')
    finally:
        podman("rm", "--force", "list")
