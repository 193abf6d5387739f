# Bash completion for jarseal-cli: its options, the values of --permissions
# and the packages (.jar, .jad, .sis, .sisx) and folders a run takes; after
# --export-certificate, certificate files (.cer, .der) and folders.
# Installed as "jarseal-cli" in bash-completion's completions folder, or
# sourced from ~/.bashrc.

# The permission groups, as the settings write them; --permissions takes them
# in any letter case.
_jarseal_cli_groups="read write socket http https ssl socketserver PushRegestry bluetoothclient bluetoothserver SMS MMS PIM camera"

# Adds to COMPREPLY the values of --permissions that complete $1: auto, none,
# or a comma-separated list of groups (a group already in the list is not
# offered again).
_jarseal_cli_permissions() {
    local value="$1" lead="$2" done_part last group lower_last lower_group
    if [[ $value == *,* ]]; then
        done_part="${value%,*},"
        last="${value##*,}"
    else
        done_part=""
        last="$value"
        local word
        for word in auto none; do
            [[ $word == "${last,,}"* ]] && COMPREPLY+=("$lead$word")
        done
    fi
    lower_last="${last,,}"
    for group in $_jarseal_cli_groups; do
        lower_group="${group,,}"
        [[ $lower_group == "$lower_last"* ]] || continue
        [[ ,${done_part,,} == *",$lower_group,"* ]] && continue
        COMPREPLY+=("$lead$done_part$group")
    done
    return 0
}

# Adds to COMPREPLY the folders, and the files whose names end as the
# pattern $2 says, that complete $1.
_jarseal_cli_files() {
    local cur="$1" ends="$2" name
    local IFS=$'\n'
    for name in $(compgen -d -- "$cur"); do
        COMPREPLY+=("$name")
    done
    for name in $(compgen -f -- "$cur"); do
        [[ $name =~ $ends && ! -d $name ]] && COMPREPLY+=("$name")
    done
    # Quoting, and a slash after a folder, as for file names.
    compopt -o filenames 2>/dev/null || true
}

# The folders and packages whose names complete $1.
_jarseal_cli_paths() { _jarseal_cli_files "$1" '\.(jar|jad|sis|sisx)$'; }

# The folders and certificate files whose names complete $1.
_jarseal_cli_certificates() { _jarseal_cli_files "$1" '\.(cer|der)$'; }

_jarseal_cli() {
    COMPREPLY=()
    local cur="${COMP_WORDS[COMP_CWORD]}"
    local prev=""
    ((COMP_CWORD > 0)) && prev="${COMP_WORDS[COMP_CWORD - 1]}"
    # With --export-certificate the one file named is the certificate to write.
    local i paths=_jarseal_cli_paths
    for ((i = 1; i < COMP_CWORD; i++)); do
        [[ ${COMP_WORDS[i]} == --export-certificate ]] && paths=_jarseal_cli_certificates
    done
    for ((i = 1; i < COMP_CWORD; i++)); do
        if [[ ${COMP_WORDS[i]} == -- ]]; then
            $paths "$cur"
            return 0
        fi
    done

    # "--permissions=VALUE" arrives as three words when "=" breaks words
    # (bash's default), as one otherwise.
    if [[ $cur == = && $prev == --permissions ]]; then
        _jarseal_cli_permissions "" ""
        return 0
    fi
    if [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
        case "${COMP_WORDS[COMP_CWORD - 2]}" in
        --permissions) _jarseal_cli_permissions "$cur" "" ;;
        --export-certificate) _jarseal_cli_certificates "$cur" ;;
        esac
        return 0
    fi
    [[ $cur == = && $prev == --zip-password ]] && return 0
    if [[ $cur == = && $prev == --export-certificate ]]; then
        _jarseal_cli_certificates ""
        return 0
    fi
    case "$prev" in
    --permissions)
        _jarseal_cli_permissions "$cur" ""
        return 0
        ;;
    --zip-password | --alias)
        return 0
        ;;
    --storepass | --keypass | --passphrase)
        mapfile -t COMPREPLY < <(compgen -W "pass: env: file: stdin" -- "$cur")
        compopt -o nospace 2>/dev/null || true
        return 0
        ;;
    --jobs)
        return 0
        ;;
    --keystore | --certificate | --key | --report)
        local IFS=$'\n'
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        compopt -o filenames 2>/dev/null || true
        return 0
        ;;
    --out)
        local IFS=$'\n'
        mapfile -t COMPREPLY < <(compgen -d -- "$cur")
        compopt -o filenames 2>/dev/null || true
        return 0
        ;;
    esac

    case "$cur" in
    --permissions=*)
        _jarseal_cli_permissions "${cur#--permissions=}" "--permissions="
        ;;
    --zip-password=*) ;;
    --export-certificate=*)
        _jarseal_cli_certificates "${cur#--export-certificate=}"
        local k
        for k in "${!COMPREPLY[@]}"; do
            COMPREPLY[k]="--export-certificate=${COMPREPLY[k]}"
        done
        ;;
    -*)
        local options="--permissions --check --quiet -q --default-keystore --zip-password --keep-jad-attributes --resign"
        options+=" --export-certificate --symbian --force --help -h --version --"
        options+=" --keystore --alias --storepass --keypass --certificate --key --passphrase --out --unsigned --skip-signed --jobs --report"
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
        ;;
    *)
        $paths "$cur"
        ;;
    esac
    return 0
}

complete -F _jarseal_cli jarseal-cli
