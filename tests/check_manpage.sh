#!/usr/bin/env bash
# The man page and the shell completions document what `quenlit --help` lists: every command and
# every option there is in quenlit(1) and in the bash, zsh and fish completions, and every option
# the man page's OPTIONS section names is one the program knows. The page renders without a warning.
# usage: check_manpage.sh QUENLIT DATA_DIR
set -euo pipefail
quenlit=$1
data=$2
page=$data/quenlit.1
status=0

fail() {
    echo "check_manpage: $*" >&2
    status=1
}

help=$("$quenlit" --help)
# The commands are the first words of the indented lines under "Commands:", up to a blank line.
commands=$(printf '%s\n' "$help" | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z][a-z-]*\).*/\1/p' | sort -u)
options=$(printf '%s\n' "$help" | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ -n "$commands" ] || fail "no commands found in 'quenlit --help'"
[ -n "$options" ] || fail "no options found in 'quenlit --help'"

# The page as text: roff's escaped hyphens made plain.
text=$(sed 's/\\-/-/g' "$page")
# Each command has its own tagged paragraph in COMMANDS: the line after .TP or .TQ starts with it.
documented=$(printf '%s\n' "$text" | sed -n '/^\.SH COMMANDS/,/^\.SH /p' |
    sed -n '/^\.T[PQ]/{n;s/^\.[BIR]* *"\{0,1\}\([a-z][a-z-]*\).*/\1/p}' | sort -u)
for c in $commands; do
    grep -qx -- "$c" <<<"$documented" || fail "command '$c' from --help has no paragraph in COMMANDS of $page"
done
for o in $options; do
    grep -q -- "$o\b" <<<"$text" || fail "option '$o' from --help is not in $page"
done
man_options=$(printf '%s\n' "$text" | sed -n '/^\.SH OPTIONS/,/^\.SH /p' | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ -n "$man_options" ] || fail "no options in OPTIONS of $page"
for o in $man_options; do
    grep -qx -- "$o" <<<"$options" || fail "option '$o' in OPTIONS of $page is not in --help"
done

# Completions: bash and zsh spell options as typed; fish names long options with -l NAME.
for file in "$data/completions/quenlit.bash" "$data/completions/_quenlit" "$data/completions/quenlit.fish"; do
    for c in $commands; do
        grep -qw -- "$c" "$file" || fail "command '$c' is not completed by $file"
    done
    for o in $options; do
        case "$file" in
            *.fish) grep -q -- "-l ${o#--}\b" "$file" || fail "option '$o' is not completed by $file" ;;
            *) grep -q -- "$o\b" "$file" || fail "option '$o' is not completed by $file" ;;
        esac
    done
done

if command -v man >/dev/null; then
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man reports on $page: $warnings"
fi

[ $status -eq 0 ] && echo "check_manpage: $(echo $commands | wc -w) commands and $(echo $options | wc -w) options documented and completed"
exit $status
