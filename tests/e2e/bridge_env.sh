# SPDX-License-Identifier: MIT
# Sourced by the bridge tests and tools/bridge-bench: a filter on another computer, all on 127.0.0.1.
# merovask-sim plays the filter on its host, ser2net serves it with the packaged example ser2net.yaml (only
# the device and the port put in), and merovask-bridge, started by the very command line of the unit,
# links it as port $bridge_number in a per-user folder of its own ($user, through XDG_CONFIG_HOME).
#
# Expects $work (a temporary folder the caller removes) and a function fail; call bridge_init first and
# bridge_cleanup on exit. Every process is stopped by its own id.

dist=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../dist" && pwd)
bridge_number=9
bridge_pids=()

bridge_init() { # MEROVASK_SIM MEROVASK_BRIDGE
    sim_bin=$1
    bridge_bin=$2
    ser2net_bin=$(command -v ser2net || echo /usr/sbin/ser2net)
    ser2net_example=$dist/ser2net.yaml
    for tool in "$ser2net_bin" socat; do
        command -v "$tool" >/dev/null || fail "$tool is missing (tools/setup installs it)"
    done
    mkdir -p "$work/host" "$work/config/merovask"
    export XDG_CONFIG_HOME=$work/config
    user=$work/config/merovask
    link=$user/com$bridge_number
}

# Only the processes not waited for yet: the id of one that was may belong to another program by now.
bridge_cleanup() {
    local p running
    running=" $(jobs -p | tr '\n' ' ') "
    for p in "${bridge_pids[@]}"; do
        if [[ $running == *" $p "* ]]; then
            kill "$p" 2>/dev/null || true
            wait "$p" 2>/dev/null || true
        fi
    done
}

start_sim() {
    "$sim_bin" --port 1 --dir "$work/host" --log "$work/sim.log" >/dev/null &
    sim_pid=$!
    bridge_pids+=("$sim_pid")
    for _ in $(seq 100); do [ -L "$work/host/com1" ] && return 0; sleep 0.05; done
    fail "the simulator made no link"
}

# The inodes of the sockets that listen on TCP port PORT, at any address of either family.
listeners() { # port
    awk -v p="$(printf ':%04X' "$1")" '$4 == "0A" && substr($2, length($2) - 4) == p {print $10}' \
        /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

listens() { # pid port
    local inode
    for inode in $(listeners "$2"); do
        find "/proc/$1/fd" -lname "socket:\[$inode\]" 2>/dev/null | grep -q . && return 0
    done
    return 1
}

# ser2net on $tcp_port, or on a free port below the kernel's ephemeral range (where the bridge's own
# connections come from), picked at random so that parallel runs do not meet.
start_ser2net() {
    local fixed=${tcp_port:-}
    for _ in 1 2 3 4 5; do
        if [ -z "$fixed" ]; then
            tcp_port=$((20000 + RANDOM % 12000))
            [ -z "$(listeners "$tcp_port")" ] || continue
        fi
        sed -e "s|^\( *connector: serialdev,\)/dev/serial/by-id/[^,]*|\1$work/host/com1|" \
            -e "s|^\( *accepter: tcp,\)3001$|\1127.0.0.1,$tcp_port|" "$ser2net_example" \
            >"$work/ser2net.yaml"
        grep -qF "127.0.0.1,$tcp_port" "$work/ser2net.yaml" &&
            grep -qF "$work/host/com1" "$work/ser2net.yaml" ||
            fail "the example ser2net.yaml has no accepter tcp,3001 or no /dev/serial/by-id device"
        "$ser2net_bin" -n -c "$work/ser2net.yaml" >>"$work/ser2net.log" 2>&1 &
        ser2net_pid=$!
        bridge_pids+=("$ser2net_pid")
        for _ in $(seq 100); do
            listens "$ser2net_pid" "$tcp_port" && return 0
            kill -0 "$ser2net_pid" 2>/dev/null || fail "ser2net ended: $(cat "$work/ser2net.log")"
            sleep 0.05
        done
        # Another program took the port first.
        stop_ser2net
        [ -z "$fixed" ] || fail "ser2net could not listen on $tcp_port again"
    done
    fail "ser2net found no free port"
}

stop_ser2net() {
    kill "$ser2net_pid" 2>/dev/null || true
    wait "$ser2net_pid" || true
}

write_conf() { # text of bridge<N>.conf
    printf '%s\n' "$1" >"$user/bridge$bridge_number.conf"
}

# The unit's ExecStart with the instance put in and the installed program swapped for the one built here.
unit_command() {
    local words
    read -ra words <<<"$(sed -n 's/^ExecStart=//p' "$dist/merovask-bridge@.service")"
    [ "${words[0]:-}" = /usr/libexec/merovask/merovask-bridge ] || fail "the unit runs ${words[*]}"
    words[0]=$bridge_bin
    unit=("${words[@]//%i/$bridge_number}")
}

# The bridge as systemd starts it; waits for its link. Its id is socat's: the program becomes socat.
start_bridge() {
    unit_command
    "${unit[@]}" 2>>"$work/bridge.log" &
    bridge_pid=$!
    bridge_pids+=("$bridge_pid")
    for _ in $(seq 100); do
        [ -L "$link" ] && return 0
        kill -0 "$bridge_pid" 2>/dev/null || break
        sleep 0.05
    done
    fail "the bridge made no link: $(cat "$work/bridge.log")"
}

# Waits for the bridge to end; its status in $bridge_status.
wait_bridge() {
    bridge_status=0
    wait "$bridge_pid" || bridge_status=$?
}

# Whether process PID has the terminal behind the link open (also after socat ended and it was removed).
holds() { # pid terminal
    find "/proc/$1/fd" \( -lname "$2" -o -lname "$2 (deleted)" \) 2>/dev/null | grep -q .
}

# The bytes that reached a simulated filter, from line FROM of its log on, as the log quotes them.
device_bytes() { # log from
    tail -n "+$2" "$1" | sed -n "s/^[0-9.]* rx '\(.*\)'$/\1/p" | tr -d '\n'
}
