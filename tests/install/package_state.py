"""The machine's package state around the install test: what dpkg holds before, apt-get with a
wait on the dpkg lock, and putting everything back as it was, also after a failure midway."""

import os
import subprocess
import tempfile

CLIENT_PACKAGE = "brassmoor"
SERVER_PACKAGE = "brassmoor-server"
PACKAGES = (CLIENT_PACKAGE, SERVER_PACKAGE)
# apt-get waits this long for another apt or dpkg run on the machine to let go of the lock.
LOCK_WAIT_SECONDS = 600


def _quiet_env():
    env = dict(os.environ)
    env["DEBIAN_FRONTEND"] = "noninteractive"
    return env


def apt_get(*args, check=True):
    """Runs apt-get non-interactively, waiting for the dpkg lock rather than failing on it."""
    command = ["apt-get", "-y", "-q", "-o", f"DPkg::Lock::Timeout={LOCK_WAIT_SECONDS}", *args]
    done = subprocess.run(command, capture_output=True, text=True, env=_quiet_env(),
                          timeout=LOCK_WAIT_SECONDS + 300)
    if check and done.returncode != 0:
        raise AssertionError(f"{' '.join(command)} failed ({done.returncode}):\n{done.stdout}\n{done.stderr}")
    return done


def installed_packages():
    """{name: version} of every package dpkg has fully installed."""
    done = subprocess.run(["dpkg-query", "-W", "-f", "${Package}\t${Version}\t${db:Status-Abbrev}\n"],
                          capture_output=True, text=True, check=True)
    packages = {}
    for line in done.stdout.splitlines():
        name, version, status = line.split("\t")
        if status[1] == "i":
            packages[name] = version
    return packages


def package_status(name):
    """dpkg's short status of a package: wanted, current state, error flag ("ii ", "rc ", "hi " ...),
    or None when dpkg has never heard of it."""
    done = subprocess.run(["dpkg-query", "-W", "-f", "${db:Status-Abbrev}", name], capture_output=True,
                          text=True)
    return done.stdout if done.returncode == 0 and done.stdout.strip() else None


def is_absent(status):
    return status is None or status[1] == "n"


def is_auto_installed(name):
    done = subprocess.run(["apt-mark", "showauto", name], capture_output=True, text=True, check=True)
    return done.stdout.strip() == name


def would_install(*deb_paths):
    """The packages apt-get would newly install along with the packages (a simulation, no change)."""
    done = apt_get("install", "--simulate", *deb_paths)
    return {line.split()[1] for line in done.stdout.splitlines() if line.startswith("Inst ")}


class MachineState:
    """What the test changes, recorded before it changes anything, and put back by restore()."""

    def __init__(self):
        self.statuses = {name: package_status(name) for name in PACKAGES}
        # Anything but plainly installed or plainly absent (held, half installed, removed with its
        # configuration kept) is left for a person to sort out: the test changes nothing then.
        for name, status in self.statuses.items():
            if not is_absent(status) and status != "ii ":
                raise AssertionError(f"{name} is in dpkg state {status!r} here: make it installed or "
                                     "purged before this test")
        self.installed_before = [name for name, status in self.statuses.items() if status == "ii "]
        self.packages_before = installed_packages()
        self.saved_dir = tempfile.TemporaryDirectory(prefix="brassmoor-saved-")
        self.saved_debs = []
        self.auto_installed = [name for name in self.installed_before if is_auto_installed(name)]
        self.candidates = set()  # packages the test's installs may bring along
        for name in self.installed_before:
            # The installed package, rebuilt from dpkg's records, to be put back at the end.
            before = set(os.listdir(self.saved_dir.name))
            subprocess.run(["dpkg-repack", name], cwd=self.saved_dir.name, capture_output=True, text=True,
                           check=True)
            (made,) = set(os.listdir(self.saved_dir.name)) - before
            self.saved_debs.append(os.path.join(self.saved_dir.name, made))

    def note_install_of(self, *deb_paths):
        self.candidates |= would_install(*deb_paths)

    def restore(self):
        """Purges what the test installed and reinstalls what was there; reports what it could not do."""
        problems = []
        present = [name for name in PACKAGES if not is_absent(package_status(name))]
        if present:
            done = apt_get("purge", *present, check=False)
            if done.returncode != 0:
                problems.append(f"purging {' '.join(present)}: {done.stderr.strip()}")
        # Only what this test's installs pulled in, never what someone else installed meanwhile.
        now = installed_packages()
        brought = sorted(name for name in self.candidates - set(PACKAGES)
                         if name in now and name not in self.packages_before)
        if brought:
            done = apt_get("purge", *brought, check=False)
            if done.returncode != 0:
                problems.append(f"purging {' '.join(brought)}: {done.stderr.strip()}")
        if self.saved_debs:
            done = apt_get("install", "--no-install-recommends", *self.saved_debs, check=False)
            if done.returncode != 0:
                problems.append(f"reinstalling the packages found before: {done.stderr.strip()}")
            elif self.auto_installed:
                subprocess.run(["apt-mark", "auto", *self.auto_installed], capture_output=True, check=False)
        self.saved_dir.cleanup()
        after = installed_packages()
        for name in PACKAGES:
            if after.get(name) != self.packages_before.get(name):
                problems.append(f"{name} was {self.packages_before.get(name) or 'not installed'} before, "
                                f"and is {after.get(name) or 'not installed'} now")
        return problems
