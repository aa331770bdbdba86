# SPDX-License-Identifier: GPL-3.0-or-later
# bash completion for corvanta-cli
# Commands first; then containers for decrypt, list and test, any path for
# encrypt (and a folder after -C, a container name after -o, a level after
# -l), a folder after decrypt's -C, a file after --password-file; nothing
# after -x and -i, which take patterns.
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
    case $prev in
        -x | -i) return ;;
    esac
    case ${COMP_WORDS[1]} in
        encrypt)
            if [ "$prev" = -C ]; then
                COMPREPLY=($(compgen -d -- "$cur"))
            elif [ "$prev" = -l ]; then
                COMPREPLY=($(compgen -W $'0\n1\n2\n3\n4\n5\n6\n7\n8\n9' -- "$cur"))
            elif [ "$prev" = -o ]; then
                COMPREPLY=($(compgen -f -- "$cur"))
            elif [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W $'-C\n-o\n-x\n-l\n--verify\n-p\n--password-file\n--' -- "$cur"))
            else
                COMPREPLY=($(compgen -f -- "$cur"))
            fi
            ;;
        decrypt | list | test)
            if [ "$prev" = -C ] && [ "${COMP_WORDS[1]}" = decrypt ]; then
                COMPREPLY=($(compgen -d -- "$cur"))
                return
            fi
            if [[ $cur == -* ]] && [ "${COMP_WORDS[1]}" = decrypt ]; then
                COMPREPLY=($(compgen -W $'--salvage\n-C\n-i\n-p\n--password-file\n--' -- "$cur"))
                return
            fi
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W $'-p\n--password-file\n--' -- "$cur"))
                return
            fi
            # Containers and the folders that may hold them.
            COMPREPLY=($(compgen -d -- "$cur") $(compgen -f -X '!*.[kK][vV][xX][dD][aA][tT][aA]' -- "$cur"))
            ;;
    esac
}
complete -o filenames -F _corvanta_cli corvanta-cli
