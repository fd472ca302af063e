# Sourced by the desktop benchmarks: how figures are summed up and how start-up is measured.

# "median fastest slowest" of numbers, one a line; nothing for none.
stats() { sort -n | awk '{a[NR] = $1} END {if (NR) print a[int((NR + 1) / 2)], a[1], a[NR]}'; }
# Resident memory of a process, in MB.
rss_mb() { awk '/^VmRSS/ {printf "%.1f", $2 / 1024}' "/proc/$1/status" 2>/dev/null; }

# A Wayland program started afresh $runs times (7 unless set): process start to its first picture
# (read from its protocol log by sway_probe, the same way for every client) and its resident memory
# a second later. Prints "median fastest slowest" of each, a line each. Needs $bin and $root.
measure_wayland_start() {  # COMMAND...
    local starts=() memories=() ms pid i
    for ((i = 0; i < ${runs:-7}; i++)); do
        read -r ms pid < <("$bin/sway_probe" start "$root/protocol.log" "$@" </dev/null)
        [ -n "${pid:-}" ] || { echo "    $1 showed nothing" >&2; return 1; }
        sleep 1
        starts+=("$ms")
        memories+=("$(rss_mb "$pid")")
        kill "$pid" 2>/dev/null
        while kill -0 "$pid" 2>/dev/null; do sleep 0.02; done
    done
    printf '%s\n' "${starts[@]}" | stats
    printf '%s\n' "${memories[@]}" | stats
}
