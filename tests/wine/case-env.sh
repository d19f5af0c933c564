# shellcheck shell=bash disable=SC2154,SC2034  # here and bin come from the case script, slow and work go back to it
# Sourced by the case scripts: joins the running session, and gives them the
# launcher call and Windows paths. Needs $here, $bin and usage_exit.

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
