"""A throwaway container with a real systemd as PID 1, booted from this machine's own root: its writes
go to a memory overlay and vanish with it, and it shares the network namespace of whoever starts it.
Run it inside a private network namespace (unshare -n) to keep its ports to the test."""

import os
import shutil
import subprocess
import tempfile
import time

# Booting takes about 0.3 s on an idle machine; a loaded one gets much longer.
BOOT_SECONDS = 60
POWEROFF_SECONDS = 30
CGROUP_HIERARCHIES = ("/sys/fs/cgroup/unified", "/sys/fs/cgroup/systemd")

# Runs in a private mount namespace: the shell moves into cgroups of its own (systemd in the container
# wants to own a subtree), binds the root (not its submounts) where nspawn can overlay it, hides any
# /run/systemd of the host, then becomes systemd-nspawn.
_BOOT_SCRIPT = r"""
set -e
for hierarchy in "$@"; do
  mkdir -p "$hierarchy/$CGROUP_NAME"
  echo $$ > "$hierarchy/$CGROUP_NAME/cgroup.procs"
done
mount --bind / "$ROOT"
mount -t tmpfs tmpfs /run/systemd
exec systemd-nspawn -D "$ROOT" --volatile=overlay --register=no --keep-unit --link-journal=no \
  --console=pipe --system-call-filter=bpf --bind-ro="$SHARED:/opt/x" -b systemd.unit=basic.target
"""


class SystemdContainer:
    """Boots on construction; run() executes a command inside; stop() powers it off and cleans up.
    The folder `shared` is visible read-only inside at /opt/x."""

    def __init__(self, shared):
        self.cgroup_name = f"brassmoor-test-{os.getpid()}-{time.monotonic_ns()}"
        self.root = tempfile.mkdtemp(prefix="brassmoor-container-root-")
        self.console = tempfile.TemporaryFile()
        env = dict(os.environ, ROOT=self.root, SHARED=shared, CGROUP_NAME=self.cgroup_name,
                   SYSTEMD_NSPAWN_UNIFIED_HIERARCHY="1")
        self.nspawn = subprocess.Popen(
            ["unshare", "-m", "--propagation", "private", "sh", "-c", _BOOT_SCRIPT, "boot", *CGROUP_HIERARCHIES],
            env=env, stdin=subprocess.DEVNULL, stdout=self.console, stderr=subprocess.STDOUT)
        self.init_pid = None
        try:
            self._wait_for_boot()
        except BaseException:
            self.stop()
            raise

    def console_output(self):
        self.console.seek(0)
        return self.console.read().decode("utf-8", "replace")

    def _wait_for_boot(self):
        deadline = time.monotonic() + BOOT_SECONDS
        while time.monotonic() < deadline:
            if self.nspawn.poll() is not None:
                raise AssertionError(f"the container stopped while booting ({self.nspawn.returncode}):\n"
                                     + self.console_output())
            if self.init_pid is None:
                found = subprocess.run(["pgrep", "-P", str(self.nspawn.pid), "-x", "systemd"],
                                       capture_output=True, text=True)
                if found.returncode == 0:
                    self.init_pid = int(found.stdout.split()[0])
            if self.init_pid is not None:
                state = self.run("systemctl", "is-system-running", check=False).stdout.strip()
                if state in ("running", "degraded"):
                    return
            time.sleep(0.05)
        raise AssertionError(f"the container's systemd was not up after {BOOT_SECONDS} s:\n" + self.console_output())

    def run(self, *command, check=True, timeout=120):
        """Runs a command in the container's namespaces (mounts, PIDs, users): its files, its systemd."""
        done = subprocess.run(["nsenter", "-t", str(self.init_pid), "-a", *command], capture_output=True,
                              text=True, timeout=timeout)
        if check and done.returncode != 0:
            raise AssertionError(f"in the container, {' '.join(command)} failed ({done.returncode}):\n"
                                 f"{done.stdout}\n{done.stderr}")
        return done

    def stop(self):
        if self.nspawn.poll() is None and self.init_pid is not None:
            subprocess.run(["nsenter", "-t", str(self.init_pid), "-a", "systemctl", "poweroff", "--no-block"],
                           capture_output=True, timeout=30)
            try:
                self.nspawn.wait(timeout=POWEROFF_SECONDS)
            except subprocess.TimeoutExpired:
                pass
        if self.nspawn.poll() is None:
            # nspawn takes its container down with it.
            self.nspawn.terminate()
            try:
                self.nspawn.wait(timeout=POWEROFF_SECONDS)
            except subprocess.TimeoutExpired:
                self.nspawn.kill()
                self.nspawn.wait()
        self._remove_cgroups()
        shutil.rmtree(self.root, ignore_errors=True)
        self.console.close()

    def _remove_cgroups(self):
        # Deepest first: the container's systemd made groups of its own inside ours. A group empties a
        # moment after its last process has gone.
        deadline = time.monotonic() + 10
        for hierarchy in CGROUP_HIERARCHIES:
            top = os.path.join(hierarchy, self.cgroup_name)
            while os.path.isdir(top):
                for folder, _, _ in os.walk(top, topdown=False):
                    try:
                        os.rmdir(folder)
                    except OSError:
                        pass
                if os.path.isdir(top):
                    if time.monotonic() > deadline:
                        raise AssertionError(f"cannot remove the cgroup {top}")
                    time.sleep(0.05)
