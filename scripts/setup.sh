# Sourced by the scripts beside it. Defines the helpers step, die and quietly, sets $root (the
# repository, made the current directory), and prepare_environment, which installs what building
# the package needs: a CPython >= 3.12, the Debian packages (g++ and those given as arguments), and the .venv with the build requirements; it sets $venv and $vpy.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

export DEBIAN_FRONTEND=noninteractive PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_NO_INPUT=1
start=$SECONDS
step() { printf '==> [%4ds] %s\n' "$((SECONDS - start))" "$*"; }
die() { printf '%s: error: %s\n' "$(basename "$0")" "$*" >&2; exit 1; }

# Runs a noisy command, showing its output only when it fails.
quietly() {
    local out rc=0
    out=$(mktemp)
    "$@" >"$out" 2>&1 || rc=$?
    if [ "$rc" -ne 0 ]; then
        cat "$out" >&2
        rm -f "$out"
        die "failed (exit $rc): $*"
    fi
    rm -f "$out"
}

is_new_python() {  # a CPython >= 3.12 that actually runs (pyenv shims may not)
    "$1" -c 'import sys; sys.exit(not (sys.implementation.name == "cpython" and sys.version_info >= (3, 12)))' \
        >/dev/null 2>&1
}

find_python() {
    local pyenv_root=${PYENV_ROOT:-}
    if [ -z "$pyenv_root" ] && command -v pyenv >/dev/null 2>&1; then
        pyenv_root=$(pyenv root 2>/dev/null || true)
    fi
    [ -n "$pyenv_root" ] || pyenv_root=$HOME/.pyenv
    local c candidates=()
    # 3.12 (the target version) first, then newer ones.
    for minor in 12 13 14 15 16 17 18 19; do
        c=$(command -v "python3.$minor" 2>/dev/null || true)
        [ -n "$c" ] && candidates+=("$c")
        for c in "$pyenv_root"/versions/3."$minor"*/bin/python3; do
            [ -x "$c" ] && candidates+=("$c")
        done
    done
    c=$(command -v python3 2>/dev/null || true)
    [ -n "$c" ] && candidates+=("$c")
    for c in "${candidates[@]}"; do
        if is_new_python "$c"; then
            "$c" -c 'import sys; print(sys.executable)'
            return 0
        fi
    done
    return 1
}

# The build requirements of pyproject.toml, one a line.
build_requires() {
    "$1" - <<'PY'
import tomllib
with open("pyproject.toml", "rb") as f:
    print("\n".join(tomllib.load(f)["build-system"]["requires"]))
PY
}

prepare_environment() {
    local python py_version p missing=() sudo=() requires=()
    python=$(find_python) || die "no CPython >= 3.12 found (looked for python3.12, python3.13, ... on \
PATH, pyenv versions 3.12+ and python3). Install one: 'pyenv install 3.12', or on Debian 13 \
'apt-get install python3 python3-venv python3-dev'."
    py_version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')

    # --- System packages: g++ builds the core ----------------------------------------------------
    local packages=(g++ "$@")
    case "$python" in
        /usr/bin/*)  # a Debian interpreter needs its venv module and headers as packages
            packages+=("python$py_version-venv" "python$py_version-dev") ;;
    esac
    if command -v dpkg-query >/dev/null 2>&1; then
        for p in "${packages[@]}"; do
            dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
        done
    else
        printf '%s: warning: no dpkg here; make sure these are installed: %s\n' "$(basename "$0")" \
            "${packages[*]}" >&2
    fi
    if [ "${#missing[@]}" -gt 0 ]; then
        if [ "$(id -u)" -ne 0 ]; then
            command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null || die "missing system packages: \
${missing[*]} (not root and no sudo; run: apt-get install ${missing[*]})"
            sudo=(sudo -n)
        fi
        step "installing system packages: ${missing[*]}"
        quietly "${sudo[@]}" apt-get update
        quietly "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
    fi

    # --- Virtual environment and the build requirements ------------------------------------------
    venv=$root/.venv
    if [ -x "$venv/bin/python" ] && is_new_python "$venv/bin/python" \
        && "$venv/bin/python" -m pip --version >/dev/null 2>&1; then
        step "reusing .venv ($("$venv/bin/python" --version))"
    else
        step "creating .venv with $python ($py_version)"
        rm -rf "$venv"
        quietly "$python" -m venv "$venv"
    fi
    vpy=$venv/bin/python

    # Those of pyproject.toml, plus whatever the build backend asks for on this machine (CMake and
    # Ninja when the system has none recent enough).
    step "installing the build requirements"
    mapfile -t requires < <(build_requires "$vpy")
    quietly "$vpy" -m pip install "${requires[@]}"
    mapfile -t requires < <("$vpy" -c \
        'from scikit_build_core.build import get_requires_for_build_wheel as r; print("\n".join(r()), end="")')
    [ "${#requires[@]}" -eq 0 ] || quietly "$vpy" -m pip install "${requires[@]}"
}
