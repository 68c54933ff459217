# Hands the public headers' plain block comments to Doxygen as documentation comments, so that
# the headers stay ordinary C for their readers and remain the one source of the reference:
#   the file's opening comment describes the file (its subsystem's page);
#   a comment that opens a line documents the declaration after it;
#   a comment after code on the same line documents that member or constant;
#   section rules (/* ---- */) and the one-line headings between them stay plain.
# Line numbers are kept, so that warnings point at the header's own lines.
function is_rule(text) { return text ~ /^[ \t]*\/\* *-----/ }
{ lines[NR] = $0 }
END {
    state = "start"
    for (i = 1; i <= NR; ++i) {
        line = lines[i]
        if (is_rule(line) || (i > 1 && i < NR && is_rule(lines[i - 1]) && is_rule(lines[i + 1]))) {
            print line
            continue
        }
        if (state == "start" && line ~ /^\/\*[^*]/) {
            sub(/^\/\*/, "/**", line)
            state = "opening"
        } else if (line ~ /^[ \t]*\/\*([^*!]|$)/) {
            sub(/\/\*/, "/**", line)
        } else if (state != "opening" && line ~ /[^ \t].*\/\*([^*!]|$)/ && line !~ /^[ \t]*\*/) {
            sub(/\/\*/, "/**<", line)
        }
        if (state == "opening" && line ~ /\*\//) {
            sub(/\*\//, "\\file */", line)
            state = "body"
        } else if (state == "start") {
            state = "body"
        }
        print line
    }
}
