"""The machine's package state around the install test: what dpkg holds before, apt-get with a
wait on the dpkg lock, and putting everything back as it was, also after a failure midway."""

import os
import subprocess
import tempfile

PACKAGE = "brassmoor"
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


def package_status(name=PACKAGE):
    """dpkg's short status of a package: wanted, current state, error flag ("ii ", "rc ", "hi " ...),
    or None when dpkg has never heard of it."""
    done = subprocess.run(["dpkg-query", "-W", "-f", "${db:Status-Abbrev}", name], capture_output=True,
                          text=True)
    return done.stdout if done.returncode == 0 and done.stdout.strip() else None


def is_absent(status):
    return status is None or status[1] == "n"


def is_auto_installed(name=PACKAGE):
    done = subprocess.run(["apt-mark", "showauto", name], capture_output=True, text=True, check=True)
    return done.stdout.strip() == name


def would_install(deb_path):
    """The packages apt-get would newly install along with the package (a simulation, no change)."""
    done = apt_get("install", "--simulate", deb_path)
    return {line.split()[1] for line in done.stdout.splitlines() if line.startswith("Inst ")}


class MachineState:
    """What the test changes, recorded before it changes anything, and put back by restore()."""

    def __init__(self):
        self.status = package_status()
        # Anything but plainly installed or plainly absent (held, half installed, removed with its
        # configuration kept) is left for a person to sort out: the test changes nothing then.
        if not is_absent(self.status) and self.status != "ii ":
            raise AssertionError(f"{PACKAGE} is in dpkg state {self.status!r} here: make it installed or "
                                 "purged before this test")
        self.was_installed = self.status == "ii "
        self.packages_before = installed_packages()
        self.saved_dir = tempfile.TemporaryDirectory(prefix="brassmoor-saved-")
        self.saved_deb = None
        self.was_auto = False
        self.candidates = set()  # packages the test's install may bring along
        if self.was_installed:
            # The installed package, rebuilt from dpkg's records, to be put back at the end.
            self.was_auto = is_auto_installed()
            subprocess.run(["dpkg-repack", PACKAGE], cwd=self.saved_dir.name, capture_output=True, text=True,
                           check=True)
            self.saved_deb = os.path.join(self.saved_dir.name, os.listdir(self.saved_dir.name)[0])

    def note_install_of(self, deb_path):
        self.candidates |= would_install(deb_path)

    def restore(self):
        """Purges what the test installed and reinstalls what was there; reports what it could not do."""
        problems = []
        if not is_absent(package_status()):
            done = apt_get("purge", PACKAGE, check=False)
            if done.returncode != 0:
                problems.append(f"purging {PACKAGE}: {done.stderr.strip()}")
        # Only what this test's install pulled in, never what someone else installed meanwhile.
        now = installed_packages()
        brought = sorted(name for name in self.candidates - {PACKAGE}
                         if name in now and name not in self.packages_before)
        if brought:
            done = apt_get("purge", *brought, check=False)
            if done.returncode != 0:
                problems.append(f"purging {' '.join(brought)}: {done.stderr.strip()}")
        if self.saved_deb is not None:
            done = apt_get("install", "--no-install-recommends", self.saved_deb, check=False)
            if done.returncode != 0:
                problems.append(f"reinstalling the {PACKAGE} found before: {done.stderr.strip()}")
            elif self.was_auto:
                subprocess.run(["apt-mark", "auto", PACKAGE], capture_output=True, check=False)
        self.saved_dir.cleanup()
        after = installed_packages().get(PACKAGE)
        before = self.packages_before.get(PACKAGE)
        if after != before:
            problems.append(f"{PACKAGE} was {before or 'not installed'} before, "
                            f"and is {after or 'not installed'} now")
        return problems
