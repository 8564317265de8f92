#!/usr/bin/python3
'''Checks that the image builders' packages ship what `meson install` stages.

Neither BitBake nor Buildroot runs here, so each package is read as text: the
meson options it passes, the files it names and the user it makes. A build
configured with --prefix=/usr and those options is installed into a scratch
DESTDIR, and the staged files must be exactly the ones the package names, at
the same paths (and, for Buildroot, from build outputs of the same content and
mode). With --deb, the Debian package is held against a meson build too.

Usage: tools/packaging-files-check.py [--deb DEB BUILD_DIR]
  DEB: the built package; BUILD_DIR: the meson build it was made from.
'''

import argparse
import fnmatch
import json
import os
import re
import shlex
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
NAME = 'ptz-preset-sync'
RECIPES = REPO / 'packaging' / 'yocto'
BUILDROOT = REPO / 'packaging' / 'buildroot' / NAME
SYSUSERS = REPO / 'packaging' / 'ptz-preset-sync.sysusers'
POLICY = REPO / 'packaging' / 'ptz-preset-sync.conf'

# bitbake.conf's directories for a distro without usrmerge.
YOCTO_VARIABLES = {
    'PN': NAME,
    'BPN': NAME,
    'prefix': '/usr',
    'exec_prefix': '${prefix}',
    'base_prefix': '',
    'bindir': '${exec_prefix}/bin',
    'sbindir': '${exec_prefix}/sbin',
    'libdir': '${exec_prefix}/lib',
    'nonarch_libdir': '${exec_prefix}/lib',
    'includedir': '${exec_prefix}/include',
    'base_bindir': '${base_prefix}/bin',
    'base_sbindir': '${base_prefix}/sbin',
    'base_libdir': '${base_prefix}/lib',
    'nonarch_base_libdir': '${base_prefix}/lib',
    'datadir': '${prefix}/share',
    'docdir': '${datadir}/doc',
    'mandir': '${datadir}/man',
    'sysconfdir': '/etc',
    'localstatedir': '/var',
    'systemd_unitdir': '${nonarch_base_libdir}/systemd',
    'systemd_system_unitdir': '${systemd_unitdir}/system',
}
# Buildroot removes these from every target after the packages are installed.
BUILDROOT_DROPPED = ('/usr/share/man/', '/usr/share/doc/')
# What dpkg adds to every package: the changelog and the copyright.
DEBIAN_ADDED = {f'/usr/share/doc/{NAME}/changelog.gz',
                f'/usr/share/doc/{NAME}/copyright'}


class Mismatch(Exception):
    pass


def run(*command, **kwargs):
    return subprocess.run(command, check=True, text=True,
                          stdout=subprocess.PIPE, **kwargs).stdout


def staged_files(build, destdir):
    '''Installs build into destdir; {path: file} of what it staged.'''
    env = dict(os.environ, DESTDIR=str(destdir))
    run('meson', 'install', '-C', str(build), '--no-rebuild', '--quiet',
        env=env)
    return {'/' + str(p.relative_to(destdir)): p
            for p in sorted(destdir.rglob('*')) if not p.is_dir()}


def configure_and_stage(options, scratch, label):
    '''Builds the tree with --prefix=/usr and options; its staged files.'''
    build = scratch / f'build-{label}'
    run('meson', 'setup', str(build), str(REPO), '--prefix=/usr', *options)
    run('ninja', '-C', str(build))
    return build, staged_files(build, scratch / f'stage-{label}')


def project_version():
    info = json.loads(run('meson', 'introspect', '--projectinfo',
                          str(REPO / 'meson.build')))
    return info['version']


def service_user():
    '''The user the sysusers entry makes; the bus policy must name it.'''
    users = [line.split()[1] for line in SYSUSERS.read_text().splitlines()
             if line.startswith('u ')]
    policy_users = re.findall(r'<policy user="([^"]+)"', POLICY.read_text())
    if len(users) != 1 or policy_users != users:
        raise Mismatch(f'sysusers makes {users}, '
                       f'the policy names {policy_users}')
    return users[0]


def compare(label, staged, named):
    '''Fails unless the set of staged paths is the set named.'''
    unnamed = sorted(set(staged) - set(named))
    stale = sorted(set(named) - set(staged))
    problems = [f'  meson installs {p}, which {label} does not name'
                for p in unnamed]
    problems += [f'  {label} names {p}, which meson does not install'
                 for p in stale]
    if problems:
        raise Mismatch('\n'.join(problems))


# BitBake

def bitbake_assignments(text):
    '''{variable: value} of a recipe's plain, ?= and += assignments.'''
    text = re.sub(r'\\\n', ' ', text)
    values = {}
    for line in text.splitlines():
        found = re.match(r'\s*([\w:${}.-]+)\s*(\?\?=|\?=|\+=|=)\s*"(.*)"\s*$',
                         line)
        if not found:
            continue
        key, operator, value = found.groups()
        if operator == '+=':
            values[key] = values.get(key, '') + ' ' + value
        elif operator == '=' or key not in values:
            values[key] = value
    return values


def expand(value, variables):
    '''Expands ${VAR} as bitbake would, from variables; fails on others.'''
    def one(found):
        name = found.group(1)
        if name not in variables:
            raise Mismatch(f'the check does not know ${{{name}}}: add it, '
                           'with its value in bitbake.conf, to '
                           'YOCTO_VARIABLES')
        return expand(variables[name], variables)
    return re.sub(r'\$\{([^}]+)\}', one, value)


def check_bitbake(scratch, version, user):
    recipes = sorted(RECIPES.glob(f'{NAME}_*.bb'))
    if [r.name for r in recipes] != [f'{NAME}_{version}.bb']:
        raise Mismatch(f'expected one recipe {NAME}_{version}.bb, found '
                       f'{[r.name for r in recipes]}')
    text = recipes[0].read_text()
    variables = dict(YOCTO_VARIABLES, PV=version)
    values = {expand(k, variables): v
              for k, v in bitbake_assignments(text).items()}
    inherited = set(' '.join(re.findall(r'^inherit\s+(.*)$', text,
                                        re.M)).split())
    missing = {'meson', 'pkgconfig', 'systemd', 'useradd'} - inherited
    if missing:
        raise Mismatch(f'the recipe does not inherit {sorted(missing)}')
    if re.search(r'^do_install', text, re.M):
        raise Mismatch('the recipe installs by hand; meson installs its files')

    options = expand(values.get('EXTRA_OEMESON', ''), variables).split()
    build, staged = configure_and_stage(options, scratch, 'yocto')

    # Every staged file goes to one of the recipe's packages, by its FILES.
    patterns = {}
    for key, value in values.items():
        if key.startswith('FILES:'):
            for pattern in expand(value, variables).split():
                patterns[pattern] = key.split(':', 1)[1]
    named = {}
    for pattern, package in patterns.items():
        matches = [p for p in staged if fnmatch.fnmatch(p, pattern)]
        if not matches:
            raise Mismatch(f'FILES:{package} names {pattern}, which meson '
                           'does not install')
        named.update((p, package) for p in matches)
    compare('the recipe\'s FILES', staged, named)

    unit_dir = expand('${systemd_system_unitdir}', variables)
    units = sorted(Path(p).name for p in staged
                   if p.startswith(unit_dir + '/'))
    services = sorted(values.get(f'SYSTEMD_SERVICE:{NAME}', '').split())
    if services != units:
        raise Mismatch(f'SYSTEMD_SERVICE names {services}, meson installs '
                       f'the units {units}')
    params = values.get(f'USERADD_PARAM:{NAME}', '').split()
    if not params or params[-1] != user or '--system' not in params:
        raise Mismatch(f'USERADD_PARAM does not make the system user {user}')
    packages = sorted(set(named.values()))
    print(f'BitBake recipe {recipes[0].name}: the {len(staged)} files meson '
          f'installs, in {", ".join(packages)}; units {services}; user {user}')


# Buildroot

def make_variables(text):
    '''{variable: value} of a .mk's assignments and define blocks.'''
    values = {}
    for name, body in re.findall(r'^define\s+(\w+)\n(.*?)^endef', text,
                                 re.M | re.S):
        values[name] = body
    plain = re.sub(r'^define\s+\w+\n.*?^endef', '', text, flags=re.M | re.S)
    plain = re.sub(r'\\\n', ' ', plain)
    for found in re.finditer(r'^(\w+)\s*(\+=|=)\s*(.*)$', plain, re.M):
        name, operator, value = found.groups()
        values[name] = (values.get(name, '') + ' ' + value
                        if operator == '+=' else value)
    return values


def buildroot_installs(commands, build, source):
    '''{target path: (source file, mode)} of $(INSTALL) -D -m lines.'''
    installs = {}
    for line in re.sub(r'\\\n', ' ', commands).splitlines():
        words = shlex.split(line)
        if not words:
            continue
        if len(words) != 6 or words[:3] != ['$(INSTALL)', '-D', '-m']:
            raise Mismatch(f'the check reads only "$(INSTALL) -D -m MODE '
                           f'SOURCE $(TARGET_DIR)/PATH": {line.strip()}')
        mode, origin, target = words[3:]
        if not target.startswith('$(TARGET_DIR)/'):
            raise Mismatch(f'{target} is not below $(TARGET_DIR)')
        origin = (origin.replace('$(@D)/build/', f'{build}/')
                  .replace('$(@D)/', f'{source}/'))
        installs[target[len('$(TARGET_DIR)'):]] = (Path(origin), int(mode, 8))
    return installs


def check_buildroot(scratch, version, user):
    prefix = 'PTZ_PRESET_SYNC_'
    text = (BUILDROOT / f'{NAME}.mk').read_text()
    config = (BUILDROOT / 'Config.in').read_text()
    values = make_variables(text)
    if values.get(prefix + 'VERSION', '').strip() != version:
        raise Mismatch(f'{prefix}VERSION is not {version}')
    if not re.search(r'^\$\(eval \$\(meson-package\)\)$', text, re.M):
        raise Mismatch('the .mk is not a meson package')
    dependencies = set(values.get(prefix + 'DEPENDENCIES', '').split())
    for package, option in (('libglib2', 'LIBGLIB2'), ('dbus', 'DBUS')):
        if package not in dependencies or \
                f'select BR2_PACKAGE_{option}' not in config:
            raise Mismatch(f'the package does not depend on {package}')
    if 'config BR2_PACKAGE_PTZ_PRESET_SYNC\n' not in config:
        raise Mismatch('Config.in does not define BR2_PACKAGE_PTZ_PRESET_SYNC')

    options = values.get(prefix + 'CONF_OPTS', '').split()
    build, staged = configure_and_stage(options, scratch, 'buildroot')
    commands = (values.get(prefix + 'INSTALL_TARGET_CMDS', '') + '\n'
                + values.get(prefix + 'INSTALL_INIT_SYSTEMD', ''))
    installs = buildroot_installs(commands, build, REPO)
    shipped = {p: f for p, f in staged.items()
               if not p.startswith(BUILDROOT_DROPPED)}
    compare('the Buildroot package', shipped, installs)
    for path, (origin, mode) in installs.items():
        if not origin.is_file() or origin.read_bytes() != \
                shipped[path].read_bytes():
            raise Mismatch(f'{path} comes from {origin}, which is not the '
                           'file meson installs there')
        staged_mode = shipped[path].stat().st_mode & 0o7777
        if mode != staged_mode:
            raise Mismatch(f'{path} gets mode {mode:o}, meson gives it '
                           f'{staged_mode:o}')
    users = values.get(prefix + 'USERS', '').split()
    if not users or users[0] != user:
        raise Mismatch(f'{prefix}USERS does not make the user {user}')
    print(f'Buildroot package {NAME}.mk: the {len(installs)} files meson '
          f'installs, less {len(staged) - len(shipped)} below /usr/share/man '
          f'and /usr/share/doc; user {user}')


# Debian

def check_deb(deb, build, scratch):
    staged = staged_files(build, scratch / 'stage-deb')
    contents = run('dpkg-deb', '-c', str(deb)).splitlines()
    files = {line.split(None, 5)[5].split(' -> ')[0][1:]
             for line in contents if not line.startswith('d')}
    # dh_compress compresses manual pages.
    packaged = {re.sub(r'(/man/man\d/[^/]+)\.gz$', r'\1', f)
                for f in files - DEBIAN_ADDED}
    compare(deb.name, staged, packaged)
    print(f'Debian package {deb.name}: the {len(staged)} files meson '
          'installs, and the changelog and copyright')


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--deb', nargs=2, metavar=('DEB', 'BUILD_DIR'),
                        type=Path)
    args = parser.parse_args()
    checks = []
    if args.deb:
        checks.append(('Debian', lambda scratch, version, user:
                       check_deb(args.deb[0], args.deb[1], scratch)))
    checks += [('BitBake', check_bitbake), ('Buildroot', check_buildroot)]
    failed = False
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        version = project_version()
        for label, check in checks:
            # Each check runs, so that one file added shows in every package.
            try:
                check(scratch, version, service_user())
            except Mismatch as error:
                print(f'{label}: differs from meson install:\n{error}',
                      file=sys.stderr)
                failed = True
            except subprocess.CalledProcessError as error:
                print(f'{error.stdout}{label}: {error}', file=sys.stderr)
                failed = True
    return 1 if failed else 0

if __name__ == '__main__':
    sys.exit(main())
