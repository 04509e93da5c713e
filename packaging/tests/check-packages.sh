#!/usr/bin/env bash
# Checks of the two Debian packages, one step per CTest test:
#   check-packages.sh build DIR CPACK_CONFIG   the packages into DIR, from the built tree
#   check-packages.sh contents|lintian|manpages|completion|programs DIR SOURCE_DIR
set -euo pipefail
step=$1 dir=$2
debs() { ls "$dir"/*.deb; }
extracted=$dir/root

# The options a program lists in its --help: those that begin a line.
options_of() {
    "$extracted/usr/bin/$1" --help | grep -oE -- '^ +(-[a-z], )?--[a-z0-9][a-z0-9.-]*' |
        grep -oE -- '--[a-z0-9.-]+' | sort -u
}

case $step in
build)
    rm -rf "$dir"
    cpack -G DEB --config "$3" -B "$dir" >"$dir.log" 2>&1 || { cat "$dir.log"; exit 1; }
    [ "$(debs | wc -l)" -eq 2 ] || { echo "expected two packages in $dir"; exit 1; }
    for deb in $(debs); do dpkg-deb -x "$deb" "$extracted"; done
    ;;

contents)
    # Every file and link, compared with the table; then what the packages depend on.
    for deb in $(debs); do
        package=$(dpkg-deb -f "$deb" Package)
        dpkg-deb -c "$deb" | awk -v p="$package" '$1 !~ /^d/ { sub(/^\./, "", $6); print p, $6 }'
    done | sort >"$dir/contents"
    grep -v '^#' "$3/packaging/contents.txt" | sort | diff -u - "$dir/contents"
    service=$(ls "$dir"/qx200d_*.deb)
    dpkg-deb -f "$service" Depends
    if dpkg-deb -f "$service" Depends | grep -Ei 'widgets|gui|libgl|libegl|libx11|libxcb|opengl'; then
        echo "qx200d depends on a display library"
        exit 1
    fi
    dpkg-deb -I "$service" conffiles | diff -u - <(echo /etc/qx200d/qx200d.yml)
    ;;

lintian)
    lintian --fail-on error,warning --suppress-tags-from-file "$3/packaging/lintian-suppressions" \
        $(debs)
    ;;

manpages)
    # Each page is one that man reads without a warning and whose name lexgrog finds, and it
    # names every option its program lists in --help.
    pages=$(find "$extracted/usr/share/man" -name '*.gz' | sort)
    [ "$(echo "$pages" | wc -l)" -eq 5 ]
    for page in $pages; do
        lexgrog "$page" >/dev/null || { echo "$page: lexgrog finds no name"; exit 1; }
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || { echo "$page: $warnings"; exit 1; }
    done
    # The configuration's page names every key qx200d knows, as its refusals list them.
    page=$(echo "$pages" | grep '/qx200d\.yml\.5\.gz$')
    text=$(zcat "$page")
    conf=$(mktemp)
    for yaml in '{projectors: [], unknown_key: 1}' 'projectors: [{name: a, device: /dev/x, unknown_key: 1}]'; do
        echo "$yaml" >"$conf"
        keys=$({ "$extracted/usr/bin/qx200d" --config "$conf" --check-config 2>&1 || true; } |
            sed -nE 's/.*\(known: ([^)]*)\).*/\1/p' | tr -d ,)
        [ -n "$keys" ] || { echo "qx200d lists no known keys for: $yaml"; exit 1; }
        for key in $keys; do
            grep -qF "\\fB$key\\fR" <<<"$text" || { echo "$page does not name $key"; exit 1; }
        done
    done
    rm -f "$conf"
    for program in qx200-control qx200-sim qx200d qx200ctl; do
        page=$(echo "$pages" | grep "/$program\.[18]\.gz$")
        text=$(zcat "$page" | sed 's/\\-/-/g; s/\\&//g')
        for option in $(options_of "$program"); do
            grep -qF -- "$option" <<<"$text" || { echo "$page does not name $option"; exit 1; }
        done
    done
    ;;

completion)
    # In a bash that read nothing else, each program's completion loads and offers every
    # option of its --help.
    complete_words() { # PROGRAM WORD...: what completing the last word offers
        env -i PATH=/usr/bin:/bin bash --norc --noprofile -c '
            source /usr/share/bash-completion/bash_completion
            source "$1/usr/share/bash-completion/completions/$2"
            complete -p "$2" >/dev/null || exit 1
            function=$(complete -p "$2" | sed -E "s/.*-F ([^ ]+) .*/\1/")
            shift 2
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
            COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
            "$function" "$1" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
            printf "%s\n" "${COMPREPLY[@]}"' bash "$extracted" "$(basename "$1")" "$@"
    }
    for program in qx200-control qx200-sim qx200d qx200ctl; do
        offered=$(complete_words "$program" --)
        for option in $(options_of "$program"); do
            grep -qxF -- "$option" <<<"$offered" || { echo "$program: $option not completed"; exit 1; }
        done
    done
    [ "$(complete_words qx200d --speed '')" = "$(printf '19200\n9600')" ]
    [ "$(complete_words qx200-control --com1 rf)" = rfc2217: ]
    [ "$(complete_words qx200ctl mute video '')" = "$(printf 'on\noff')" ]

    # qx200ctl completes the names of the projectors that the running service has.
    run=$(mktemp -d)
    printf 'projectors:\n  - {name: hall-a, device: "tcp:127.0.0.1:1"}\n  - {name: foyer, device: "tcp:127.0.0.1:2"}\n' >"$run/qx200d.yml"
    RUNTIME_DIRECTORY=$run "$extracted/usr/bin/qx200d" --config "$run/qx200d.yml" \
        --listen 127.0.0.1:0 --control-socket "$run/qx200d.sock" --no-record 2>"$run/log" &
    trap 'kill $!; rm -rf "$run"' EXIT
    for _ in $(seq 100); do [ -S "$run/qx200d.sock" ] && break; sleep 0.1; done
    offered=$(complete_words "$extracted/usr/bin/qx200ctl" --socket "$run/qx200d.sock" power on '')
    [ "$(sort <<<"$offered")" = "$(printf 'foyer\nhall-a')" ] ||
        { echo "qx200ctl completed \"$offered\""; cat "$run/log"; exit 1; }
    ;;

programs)
    # The programs as packaged run, say the package's version, and the service's files fit.
    version=$(dpkg-deb -f "$(debs | head -n 1)" Version)
    for program in qx200-control qx200-sim qx200d qx200ctl; do
        said=$("$extracted/usr/bin/$program" --version)
        [ "$said" = "$program $version" ] || { echo "$program says \"$said\""; exit 1; }
    done
    qx200d=$extracted/usr/bin/qx200d
    if "$qx200d" --config "$extracted/etc/qx200d/qx200d.yml" --names-projector; then
        echo "the installed configuration names a projector"
        exit 1
    fi
    "$qx200d" --config "$extracted/usr/share/qx200d/qx200d.yml" --check-config
    grep -x 'ExecStart=/usr/bin/qx200d --config /etc/qx200d/qx200d.yml --listen ${QX200D_LISTEN}' \
        "$extracted/usr/lib/systemd/system/qx200d.service"
    for binary in "$extracted"/usr/bin/*; do
        if readelf --section-headers "$binary" | grep -qE '\.(symtab|debug_info)'; then
            echo "$binary: not stripped"
            exit 1
        fi
    done
    ;;
esac
