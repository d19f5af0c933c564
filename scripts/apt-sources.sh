# shellcheck shell=sh disable=SC2154  # codename comes from the sourcing script
# Sourced by the install scripts: the machine's own Debian archives, so that
# no archive's address is written into the repository.  Needs $codename.

# "URI SUITE COMPONENTS" lines for the machine's Debian archives: the entries
# that carry the release's own suites.
derived_sources() {
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        awk -v c="$codename" '$1 == "deb" {
            i = 2; if ($2 ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
            uri = $i; suite = $(i + 1); comps = ""
            for (j = i + 2; j <= NF && $j !~ /^#/; j++) comps = comps " " $j
            if (suite ~ "^" c "(-|$)") print uri, suite, comps
        }' "$file"
    done
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk -v c="$codename" '
            function flush(   n, s, k) {
                if (types ~ /(^| )deb( |$)/ && enabled != "no") {
                    n = split(suites, s, " ")
                    for (k = 1; k <= n; k++) if (s[k] ~ "^" c "(-|$)") print uris, s[k], comps
                }
                types = uris = suites = comps = enabled = ""
            }
            /^[ \t]*$/ { flush(); next }
            /^#/ { next }
            { key = tolower($1); sub(/:$/, "", key); $1 = ""; sub(/^ +/, "") }
            key == "types" { types = $0 } key == "uris" { uris = $0 }
            key == "suites" { suites = $0 } key == "components" { comps = $0 }
            key == "enabled" { enabled = tolower($0) }
            END { flush() }' "$file"
    done
}
