# bash completion for quenlit                               -*- shell-script -*-

_quenlit() {
    local cur prev words cword
    _init_completion || return

    local commands="calc search profiles history bindings toggle"
    local options="--verbose --backend --install-autostart --install-gnome-extension --version --help"

    # The command is the first word that is not an option.
    local i command=""
    for ((i = 1; i < cword; i++)); do
        if [[ ${words[i]} != -* ]]; then
            command=${words[i]}
            break
        fi
    done

    if [[ $prev == --backend ]]; then
        COMPREPLY=($(compgen -W "x11 sway kde gnome wayland" -- "$cur"))
        return
    fi

    case $command in
        "")
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "$options" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "$commands" -- "$cur"))
            fi
            ;;
        calc | search)
            # Only a leading --json is an option: the rest is text.
            if ((cword == i + 1)) && [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--json --" -- "$cur"))
            fi
            ;;
        profiles)
            COMPREPLY=($(compgen -W "--json" -- "$cur"))
            ;;
        history)
            [[ $prev == --limit ]] && return
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--json --limit --stats --" -- "$cur"))
            fi
            ;;
        bindings)
            if ((cword == i + 1)); then
                COMPREPLY=($(compgen -W "check" -- "$cur"))
            elif ((cword == i + 2)); then
                _filedir toml
            fi
            ;;
        toggle)
            if ((cword == i + 1)); then
                COMPREPLY=($(compgen -W "launcher clipboard" -- "$cur"))
            fi
            ;;
    esac
} &&
    complete -F _quenlit quenlit
