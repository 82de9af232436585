# Sourced by the fuzz scripts: what they print when libFuzzer stops on a finding, so that a red
# run can be replayed from its log alone.

# Makes a mark in DIR; report_findings lists the inputs libFuzzer wrote after it.
fuzz_mark() {
    touch "$1/.run-start"
}

# report_findings DIR COMMAND...: for each crash, timeout, OOM or leak input written into DIR
# since fuzz_mark, prints its path, its bytes in base64 and COMMAND with the input's path appended
# (the command that replays it). Reports when libFuzzer stopped without writing one.
report_findings() {
    local dir=$1 f found=0
    shift
    while IFS= read -r -d '' f; do
        found=1
        echo "finding: $f"
        echo "input (base64): $(base64 -w0 "$f")"
        printf 'replay:'
        printf ' %q' "$@" "$f"
        printf '\n'
    done < <(find "$dir" -maxdepth 1 -type f -newer "$dir/.run-start" \
        \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' -o -name 'leak-*' \) -print0)
    if [ "$found" = 0 ]; then
        echo "finding: libFuzzer wrote no input (the failure came before or between inputs; see above)"
    fi
}
