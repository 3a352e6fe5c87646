#!/usr/bin/env bash
# Builds the Debian packages with CPack from a built tree and checks them: their names and
# fields, their files, that every library the programs load is among the dependencies, the
# manual pages, the programs' versions run from the unpacked packages, and the bash completion
# against the programs' own --help.
#   check_packages.sh CPACK BUILD_DIR VERSION WORK_DIR
set -u
cpack=$1 build=$2 version=$3 work=$4

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
group() { printf '\n== %s\n' "$*"; }
# Whether the words of $2 and $3 are the same set; else a failure named $1 that shows both.
same_set() {
    local a b
    a=$(tr -s ' \n' '\n\n' <<<"$2" | sed '/^$/d' | sort -u)
    b=$(tr -s ' \n' '\n\n' <<<"$3" | sed '/^$/d' | sort -u)
    [ "$a" = "$b" ] || fail "$1: expected [$(echo $a)], got [$(echo $b)]"
}

rm -rf "$work"
mkdir -p "$work"
arch=$(dpkg --print-architecture)
app=zimpprotocol_${version}_${arch}.deb
lib=libcorvex_${version}_${arch}.deb
dev=libcorvex-dev_${version}_${arch}.deb

group "cpack -G DEB"
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack failed"
    exit 1
fi
same_set "packages written" "$app $lib $dev" "$(cd "$work/out" && ls -- *.deb)"
for deb in "$app" "$lib" "$dev"; do
    [ -f "$work/out/$deb" ] || { echo "FAIL: no $deb"; exit 1; }
done

group "package fields"
field() { dpkg-deb --field "$work/out/$1" "$2"; }
for deb in "$app" "$lib" "$dev"; do
    name=${deb%%_*}
    [ "$(field "$deb" Package)" = "$name" ] || fail "$deb: Package is not $name"
    [ "$(field "$deb" Version)" = "$version" ] || fail "$deb: Version is not $version"
    [ "$(field "$deb" Architecture)" = "$arch" ] || fail "$deb: Architecture is not $arch"
    [ -n "$(field "$deb" Maintainer)" ] || fail "$deb: no Maintainer"
    [ -n "$(field "$deb" Description)" ] || fail "$deb: no Description"
done
dpkg-deb --info "$work/out/$app" | grep -q '^ Depends: ' || fail "$app: no Depends line"
# A package for each kind of library, as dpkg-shlibdeps names them.
depends() { field "$1" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//'; }
for p in libc6 libstdc++6 libqt6widgets6 libqt6core6; do
    depends "$app" | grep -qx "$p" || fail "$app: Depends lacks $p: $(field "$app" Depends)"
done
for p in libc6 libstdc++6; do
    depends "$lib" | grep -qx "$p" || fail "$lib: Depends lacks $p: $(field "$lib" Depends)"
done
field "$dev" Depends | grep -qF "libcorvex (= $version)" ||
    fail "$dev: does not depend on libcorvex (= $version): $(field "$dev" Depends)"

group "package contents"
contents() { dpkg-deb --contents "$work/out/$1" | awk '{ print $1, $6 }'; }
has() {  # deb mode-prefix path
    contents "$1" | grep -qx -- "$2[^ ]* \./$3" || fail "$1: no $3 (with mode $2...)"
}
programs="zimp zimpprotocol zimp-radio-sim rnc-sim"
for p in $programs; do has "$app" -rwxr-xr-x "usr/bin/$p"; done
has "$app" -rw-r--r-- usr/share/applications/zimpprotocol.desktop
has "$app" -rw-r--r-- usr/share/icons/hicolor/scalable/apps/zimpprotocol.svg
pages=$programs
for p in $pages; do has "$app" -rw-r--r-- "usr/share/man/man1/$p.1.gz"; done
has "$app" -rw-r--r-- usr/share/bash-completion/completions/zimp
contents "$app" | grep -q 'corvex' && fail "$app: holds Corvex files"
has "$lib" l usr/lib/libcorvex.so.1
has "$lib" -rw-r--r-- "usr/lib/libcorvex.so.1.*"
contents "$lib" | grep -qE '\.h$|\.pc$|\.cmake$|libcorvex\.so$' && fail "$lib: holds development files"
has "$dev" -rw-r--r-- usr/include/corvex/Corvex.h
has "$dev" l usr/lib/libcorvex.so
has "$dev" -rw-r--r-- usr/lib/pkgconfig/corvex.pc
has "$dev" -rw-r--r-- usr/lib/cmake/Corvex/CorvexConfig.cmake
has "$dev" -rw-r--r-- usr/lib/cmake/Corvex/CorvexTargets.cmake
contents "$dev" | grep -q 'libcorvex\.so\.' && fail "$dev: holds the library itself"

group "unpacked into a scratch root"
root=$work/root
for deb in "$app" "$lib" "$dev"; do dpkg -x "$work/out/$deb" "$root"; done
bin=$root/usr/bin
export QT_QPA_PLATFORM=offscreen
for p in $programs; do
    out=$(LD_LIBRARY_PATH=$root/usr/lib "$bin/$p" --version 2>&1)
    [ "$out" = "$p $version" ] || fail "$p --version says '$out', not '$p $version'"
done
# Every library a program or the library loads comes from a package among its Depends.
needed_packages() {  # elf
    local name path
    for name in $(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        path=$(LD_LIBRARY_PATH=$root/usr/lib ldd "$1" |
            awk -v n="$name" '$1 == n && $2 == "=>" { print $3 } $1 ~ "/" n "$" { print $1 }')
        case $path in "$root"/*) continue ;; "") fail "$1: $name not found"; continue ;; esac
        dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")" 2>/dev/null ||
            dpkg -S "${path#/usr}" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null ||
            fail "$1: no package owns $path"
    done | sed 's/:.*//' | tr ',' '\n' | sed 's/^ *//' | sort -u
}
for p in $programs; do
    for pkg in $(needed_packages "$bin/$p"); do
        depends "$app" | grep -qx "$pkg" || fail "$app: $p loads a library of $pkg, not in Depends"
    done
done
for pkg in $(needed_packages "$root/usr/lib/libcorvex.so.1"); do
    depends "$lib" | grep -qx "$pkg" || fail "$lib: loads a library of $pkg, not in Depends"
done
# The desktop entry starts a program of the package and names its icon.
desktop=$root/usr/share/applications/zimpprotocol.desktop
exec_line=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -n "$exec_line" ] && [ -x "$bin/$exec_line" ] || fail "desktop entry: Exec '$exec_line' is no program of the package"
[ -n "$icon" ] && [ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
    fail "desktop entry: Icon '$icon' is not in the package"
grep -q '^\[Desktop Entry\]$' "$desktop" && grep -q '^Type=Application$' "$desktop" ||
    fail "desktop entry: not an application entry"
# The development files find the library where it is unpacked.
read -r cflags _ <<<"$(PKG_CONFIG_PATH=$root/usr/lib/pkgconfig pkg-config --cflags corvex 2>&1)"
[ -f "${cflags#-I}/corvex/Corvex.h" ] || fail "pkg-config --cflags corvex: '$cflags' has no corvex/Corvex.h"

group "manual pages"
for p in $pages; do
    page=$root/usr/share/man/man1/$p.1.gz
    text=$(zcat "$page" 2>&1) || { fail "$p.1.gz: cannot be read: $text"; continue; }
    grep -qx ".TH ${p^^} \"1\" \".*\" \"$p $version\" \"User Commands\"" <<<"$text" ||
        fail "$p(1): its title does not name $p $version"
    grep -q '^\.SH SYNOPSIS$' <<<"$text" || fail "$p(1): no synopsis"
    warnings=$(MANWIDTH=100 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$p(1): man warns: $warnings"
    # Every option the program's help names is in its page.
    for o in $("$bin/$p" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -qF -- "${o//-/\\-}" <<<"$text" || fail "$p(1): no $o"
    done
done
zimp_commands=$("$bin/zimp" --help | sed -n '/^Commands:/,$ s/^  \([a-z][a-z0-9-]*\)  .*/\1/p')
[ -n "$zimp_commands" ] || fail "zimp --help lists no commands"
page_commands=$(zcat "$root/usr/share/man/man1/zimp.1.gz" | sed -n 's/^\.SS "zimp \(.*\)"$/\1/p')
same_set "zimp(1) command sections" "$zimp_commands" "$page_commands"

group "bash completion"
completion=$root/usr/share/bash-completion/completions/zimp
check_completion() {
    scratch=$work/completion
    mkdir -p "$scratch/dev/serial/by-id"
    touch "$scratch/image.s19" "$scratch/notes.ini" "$scratch/dev/ttyUSB3" "$scratch/dev/ttyACM0" \
        "$scratch/dev/ttyS0" "$scratch/dev/serial/by-id/usb-FTDI_FT232R-if00-port0"
    # In a bash of its own, which bash-completion sets up as it does for a user, the completion
    # loaded from where the package puts it: prints one line per completion asked for.
    (
        cd "$scratch" || exit 1
        set +eu
        # shellcheck disable=SC1091
        source /usr/share/bash-completion/bash_completion
        # As bash-completion loads it on the first <Tab> after zimp: from the data directories.
        XDG_DATA_DIRS=$root/usr/share BASH_COMPLETION_USER_DIR=$scratch/none __load_completion zimp
        function=$(complete -p zimp 2>/dev/null | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
        echo "function ${function:-none}"
        echo "globs ${_zimp_port_globs[*]}"
        _zimp_port_globs=("$scratch/dev/serial/by-id/*" "$scratch/dev/ttyUSB*" "$scratch/dev/ttyACM*")
        # Completes LINE at its end, its words split as bash splits them (an = stands alone).
        ask() {
            local line=$1 word
            COMP_WORDS=()
            for word in $line; do
                if [[ $word == *=* ]]; then
                    COMP_WORDS+=("${word%%=*}" "=")
                    [ -n "${word#*=}" ] && COMP_WORDS+=("${word#*=}")
                else
                    COMP_WORDS+=("$word")
                fi
            done
            [[ $line == *" " || $line == *= ]] && COMP_WORDS+=("")
            COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
            COMP_LINE=$line
            COMP_POINT=${#line}
            COMPREPLY=()
            "$function" zimp "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}" 2>/dev/null
            echo "[$line] ${COMPREPLY[*]}"
        }
        ask "zimp "
        ask "zimp -"
        ask "zimp ve"
        for c in $zimp_commands; do ask "zimp $c -"; done
        ask "zimp load "
        ask "zimp save "
        ask "zimp verify "
        ask "zimp request "
        ask "zimp save flash x.s19 --type "
        ask "zimp convert a b --type "
        ask "zimp --port "
        ask "zimp --port=/"
        ask "zimp --port $scratch/dev/tty"
        ask "zimp --config "
        ask "zimp --port x load flash "
        ask "zimp load --bias 10 flash im"
        ask "zimp info "
        ask "zimp tqv-boot --patch "
        ask "zimp ports "
        ask "zimp --count 3 "
    ) >"$work/completion.txt" 2>&1
    said() { awk -v l="[$1] " 'index($0, l) == 1 { print substr($0, length(l) + 1) }' "$work/completion.txt"; }
    [ "$(sed -n 's/^function //p' "$work/completion.txt")" != none ] ||
        fail "bash-completion finds no completion for zimp in the package"
    grep -qxF 'globs /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM*' "$work/completion.txt" ||
        fail "--port does not look at /dev/serial/by-id/*, /dev/ttyUSB* and /dev/ttyACM*"
    same_set "zimp <TAB>: the commands of zimp --help" "$zimp_commands" "$(said 'zimp ')"
    same_set "zimp ve<TAB>" "verify" "$(said 'zimp ve')"
    # The global options of zimp --help: the names in its option column.
    global_options=$("$bin/zimp" --help | sed -n '/^Global options/,/^$/p' |
        awk '/^  -/ { s = substr($0, 3); i = index(s, "  "); print i ? substr(s, 1, i - 1) : s }' |
        grep -o -- '--[a-z][a-z-]*')
    same_set "zimp -<TAB>: the global options of zimp --help" "$global_options" "$(said 'zimp -')"
    # A command's options: those of its usage lines, and --help.
    for c in $zimp_commands; do
        usage=$("$bin/zimp" "$c" --help | sed -n '1,/^$/p' | grep -o -- '--[a-z][a-z-]*')
        same_set "zimp $c -<TAB>: the options of zimp $c --help" "$usage --help" "$(said "zimp $c -")"
    done
    for c in load save verify; do
        memories=$("$bin/zimp" "$c" --help | grep -o 'MEMORY is [^.(;]*' | sed 's/MEMORY is //; s/,/ /g; s/ or / /')
        [ -n "$memories" ] || fail "zimp $c --help names no memories"
        same_set "zimp $c <TAB>: the memories of its help" "$memories" "$(said "zimp $c ")"
    done
    requests=$("$bin/zimp" request --help | sed -n 's/^\(usage:\)\? *zimp request \([a-z |]*\).*/\2/p' | tr '|' ' ')
    same_set "zimp request <TAB>: the requests of its help" "$requests" "$(said 'zimp request ')"
    types_of() { "$bin/zimp" "$1" --help | sed -n '1s/.*--type \([S0-9|]*\).*/\1/p' | tr '|' ' '; }
    [ -n "$(types_of save)" ] || fail "zimp save --help names no --type values"
    same_set "zimp save --type <TAB>" "$(types_of save)" "$(said 'zimp save flash x.s19 --type ')"
    same_set "zimp convert --type <TAB>" "$(types_of convert)" "$(said 'zimp convert a b --type ')"
    ports="$scratch/dev/serial/by-id/usb-FTDI_FT232R-if00-port0 $scratch/dev/ttyUSB3 $scratch/dev/ttyACM0"
    same_set "zimp --port <TAB>: the serial devices" "$ports" "$(said 'zimp --port ')"
    same_set "zimp --port=/<TAB>" "$ports" "$(said 'zimp --port=/')"
    same_set "zimp --port .../tty<TAB>" "$scratch/dev/ttyUSB3 $scratch/dev/ttyACM0" "$(said "zimp --port $scratch/dev/tty")"
    files="image.s19 notes.ini dev"
    same_set "zimp --config <TAB>: files" "$files" "$(said 'zimp --config ')"
    same_set "zimp load flash <TAB>: files" "$files" "$(said 'zimp --port x load flash ')"
    same_set "zimp load --bias 10 flash im<TAB>" "image.s19" "$(said 'zimp load --bias 10 flash im')"
    same_set "zimp info <TAB>: files" "$files" "$(said 'zimp info ')"
    same_set "zimp tqv-boot --patch <TAB>: files" "$files" "$(said 'zimp tqv-boot --patch ')"
    same_set "zimp ports <TAB>: nothing" "" "$(said 'zimp ports ')"
    same_set "zimp --count 3 <TAB>: the commands" "$zimp_commands" "$(said 'zimp --count 3 ')"
}
if [ -f "$completion" ]; then check_completion; else fail "no completion to check"; fi

echo
if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; the packages are in $work/out"
    exit 1
fi
echo "packages checked: $app $lib $dev"
