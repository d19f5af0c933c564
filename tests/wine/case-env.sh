# shellcheck shell=bash disable=SC2154,SC2034  # here and bin come from the case script, slow and work go back to it
# Sourced by the case scripts: joins the running session, and gives them the
# launcher call, Windows paths and, beside a second monitor, the X server's
# outputs. Needs $here, $bin and usage_exit.

win_path() {
    printf 'Z:%s' "${1//\//\\}"
}

# Sets state and the session's environment, and makes the case's work folder.
join_session() {
    state=${QUORIN_WINE_STATE:-}
    [ -n "$state" ] || usage_exit "QUORIN_WINE_STATE is not set (run session.sh start DIR first)"
    env_text=$("$here/session.sh" env "$state") || exit 2
    eval "$env_text"
    # Waits and timeouts are for native Wine; an emulator stretches them.
    slow=${QUORIN_WINE_SLOWDOWN:-1}
    [ -f "$bin/quorin.exe" ] || usage_exit "no quorin.exe in $bin (set QUORIN_WINE_BIN)"
    [ -f "$bin/qlaunch.exe" ] || usage_exit "no qlaunch.exe in $bin (set QUORIN_WINE_BIN)"
    work=$(mktemp -d "$state/case.XXXXXX")
}

# ql VERB ARGS...: qlaunch; its output and that of a console child go to
# $work/qlaunch.err. qlaunch itself ends with 0 to 3; anything else means
# Wine did not get it running (seen now and then under load), so it is
# started once more.
ql() {
    local rc=0
    "$WINE" "$bin/qlaunch.exe" "$@" >>"$work/qlaunch.err" 2>&1 || rc=$?
    if [ "$rc" -gt 3 ]; then
        echo "ql: qlaunch $1 did not start (exit $rc); once more" >>"$work/qlaunch.err"
        sleep 0.5
        rc=0
        "$WINE" "$bin/qlaunch.exe" "$@" >>"$work/qlaunch.err" 2>&1 || rc=$?
    fi
    return "$rc"
}

# Report lines as [field|field] groups, so that one line shows them all.
flatten() {
    local line out=""
    while IFS= read -r line || [ -n "$line" ]; do
        out+="[${line//	/|}]"
    done
    printf '%s' "$out"
}

# poll SECONDS COMMAND...: runs COMMAND every 50 ms until it succeeds.
poll() {
    local deadline=$((${EPOCHREALTIME/./} + $1 * slow * 1000000))
    shift
    while :; do
        "$@" && return 0
        [ "${EPOCHREALTIME/./}" -lt "$deadline" ] || return 1
        sleep 0.05
    done
}

# --- a second monitor (QUORIN_WINE_MONITORS=2) ------------------------------

# The session's outputs as x_outputs prints them: DUMMY1 right of the primary.
x_baseline="DUMMY0 1024x768@85+0+0 primary, DUMMY1 1280x1024@85+1024+0"

# "NAME W H X Y RATE PRIMARY(0|1)" for each connected output as the X server
# has it ("NAME off - 0" without a mode), the rate rounded as Wine rounds it.
x_rects() {
    xrandr --current | awk '
        $2 == "connected" {
            name = $1; order[++n] = name; geo[name] = "off"; prim[name] = $3 == "primary"
            for (i = 3; i <= NF; i++) if ($i ~ /^[0-9]+x[0-9]+[+][0-9]+[+][0-9]+$/) geo[name] = $i
            next
        }
        /^[^ \t]/ { name = ""; next }
        name != "" && !(name in rate) {
            for (i = 2; i <= NF; i++) if ($i ~ /[*]/) { v = $i; gsub(/[*+]/, "", v); rate[name] = sprintf("%.0f", v); break }
        }
        END {
            for (k = 1; k <= n; k++) {
                m = order[k]; g = geo[m]; gsub(/[x+]/, " ", g)
                print m, g, (m in rate) && g != "off" ? rate[m] : "-", prim[m]
            }
        }'
}

# One line for the comparisons: "NAME WxH@RATE+X+Y[ primary], ...".
x_outputs() {
    x_rects | awk '{
        s = $2 == "off" ? $1 " off" : $1 " " $2 "x" $3 "@" $6 "+" $4 "+" $5
        if ($NF == 1) s = s " primary"
        out = out (NR > 1 ? ", " : "") s
    } END { print out }'
}

# Wine's monitors are the X server's outputs, in Windows coordinates, whose
# origin is the primary's corner: Wine has taken in an outside change.
wine_sees_x() {
    local expected
    expected=$(x_rects | awk '
        $2 != "off" { line[++n] = $0; if ($7 == 1) { px = $4; py = $5 } }
        END { for (k = 1; k <= n; k++) { split(line[k], f, " "); print f[4] - px, f[5] - py, f[4] - px + f[2], f[5] - py + f[3], f[7] } }' | sort)
    rm -f "$work/monitors.txt"
    ql monitors "$(win_path "$work/monitors.txt")" || return 1
    [ "$(awk -F'\t' '$1 == "MONITOR" { print $2, $3, $4, $5, $6 }' "$work/monitors.txt" 2>/dev/null | sort)" = "$expected" ]
}

# x_layout right|left|large|primary: the second monitor as a user arranges
# it in the display settings: right of the primary (as the session starts),
# left of it (negative Windows coordinates), right at 1920x1200 (larger than
# every mode the cases give the primary), or made the main display.  Waits
# until Wine has taken it in.
x_layout() {
    case $1 in
    right) ;;
    left) xrandr --output DUMMY1 --left-of DUMMY0 ;;
    large) xrandr --output DUMMY1 --mode 1920x1200 --right-of DUMMY0 ;;
    primary) xrandr --output DUMMY1 --primary ;;
    *) usage_exit "unknown layout '$1'" ;;
    esac || return 1
    poll 5 wine_sees_x
}

# Both outputs back as the session set them up, when a case left them
# otherwise; nothing else touches xrandr, which Wine 10 answers slowly.
x_restore() {
    [ "${QUORIN_WINE_MONITORS:-1}" = 2 ] || return 0
    [ "$(x_outputs)" != "$x_baseline" ] || return 0
    xrandr --output DUMMY0 --primary --mode 1024x768 --rate 85 --pos 0x0 \
        --output DUMMY1 --mode 1280x1024 --rate 85 --pos 1024x0 &&
        poll 5 wine_sees_x
}

# Nothing to check with one monitor; else the X server's outputs are the
# session's.
x_restored() {
    [ "${QUORIN_WINE_MONITORS:-1}" != 2 ] || [ "$(x_outputs)" = "$x_baseline" ]
}
