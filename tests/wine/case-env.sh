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
    [ -f "$bin/quorin.exe" ] || usage_exit "no quorin.exe in $bin (set QUORIN_WIN64_DIR)"
    [ -f "$bin/qlaunch.exe" ] || usage_exit "no qlaunch.exe in $bin (set QUORIN_WIN64_DIR)"
    work=$(mktemp -d "$state/case.XXXXXX")
}

# ql VERB ARGS...: qlaunch; its output and that of a console child go to
# $work/qlaunch.err.
ql() {
    "$WINE" "$bin/qlaunch.exe" "$@" >>"$work/qlaunch.err" 2>&1
}
