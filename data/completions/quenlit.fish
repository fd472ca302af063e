# fish completion for quenlit

set -l commands calc search profiles history bindings toggle

complete -c quenlit -f
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -l verbose -d 'Write diagnostic log records to standard error'
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -l backend -x -a 'x11 sway kde gnome wayland' -d 'Run the desktop program on this backend'
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -l install-autostart -d 'Start this program with your desktop session'
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -l install-gnome-extension -d 'Install and enable the GNOME Shell extension'
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -l version -d 'Print the version'
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'Print the help'

complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -a calc -d "Evaluate text as the launcher's calculator does"
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -a search -d "Print the launcher's rows for a query"
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -a profiles -d 'List the detected Firefox profiles'
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -a history -d 'List the stored clipboard history'
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -a bindings -d 'Check an app-toggle bindings file'
complete -c quenlit -n "not __fish_seen_subcommand_from $commands" -a toggle -d 'Show or hide the running launcher or clipboard panel'

complete -c quenlit -n "__fish_seen_subcommand_from calc search profiles history" -l json -d 'Print JSON'
complete -c quenlit -n "__fish_seen_subcommand_from history" -l limit -x -d 'Show at most N entries'
complete -c quenlit -n "__fish_seen_subcommand_from history" -l stats -d 'Print the number of items and images and the bytes on disk'
complete -c quenlit -n "__fish_seen_subcommand_from bindings; and not __fish_seen_subcommand_from check" -a check -d 'Check the bindings file'
complete -c quenlit -n "__fish_seen_subcommand_from bindings; and __fish_seen_subcommand_from check" -F
complete -c quenlit -n "__fish_seen_subcommand_from toggle; and not __fish_seen_subcommand_from launcher clipboard" -a 'launcher clipboard'
