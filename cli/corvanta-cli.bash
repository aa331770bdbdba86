# bash completion for corvanta-cli
# Commands first; then containers for decrypt, list and test, any path for
# encrypt (and a folder after -C), a file after --password-file.
_corvanta_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local IFS=$'\n'
    if [ "$COMP_CWORD" -eq 1 ]; then
        COMPREPLY=($(compgen -W $'encrypt\ndecrypt\nlist\ntest\n--help\n--version' -- "$cur"))
        return
    fi
    if [ "$prev" = --password-file ]; then
        COMPREPLY=($(compgen -f -- "$cur"))
        return
    fi
    case ${COMP_WORDS[1]} in
        encrypt)
            if [ "$prev" = -C ]; then
                COMPREPLY=($(compgen -d -- "$cur"))
            elif [ "$COMP_CWORD" -eq 2 ] && [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W $'-C\n--verify\n-p\n--password-file\n--' -- "$cur"))
            else
                COMPREPLY=($(compgen -f -- "$cur"))
            fi
            ;;
        decrypt | list | test)
            if [[ $cur == -* ]]; then
                if [ "${COMP_WORDS[1]}" = decrypt ]; then
                    COMPREPLY=($(compgen -W $'--salvage\n-p\n--password-file\n--' -- "$cur"))
                    return
                fi
                COMPREPLY=($(compgen -W $'-p\n--password-file\n--' -- "$cur"))
                return
            fi
            # Containers and the folders that may hold them.
            COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X '!*.[kK][vV][xX][dD][aA][tT][aA]' -- "$cur"))
            ;;
    esac
}
complete -o filenames -F _corvanta_cli corvanta-cli
