#!/usr/bin/env bash
# Tests of the rcnet command-line tool, one group per ctest entry:
#   cli_test.sh RCNET DATA_DIR WORK_DIR CASE
# CASE: help, usage, info, check, train_predict, check_load_agreement, progress.
set -u

rcnet=$1
data=$2
work=$3
case=$4

rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# run ARGS...: runs the tool; its exit code goes to $rc, its output to out.txt and err.txt.
run() {
    "$rcnet" "$@" >out.txt 2>err.txt
    rc=$?
}
expect_rc() {
    [ "$rc" = "$1" ] || fail "$2: exit code $rc, expected $1 (stderr: $(head -c 300 err.txt))"
}
expect_out() {
    grep -qF -- "$1" out.txt || fail "$2: stdout lacks '$1' (stdout: $(head -c 300 out.txt))"
}
expect_err() {
    grep -qF -- "$1" err.txt || fail "$2: stderr lacks '$1' (stderr: $(head -c 300 err.txt))"
}
expect_no_err() {
    ! grep -qF -- "$1" err.txt || fail "$2: stderr has '$1' (stderr: $(head -c 300 err.txt))"
}
expect_line_count() {
    local lines
    lines=$(wc -l <"$1")
    [ "$lines" = "$2" ] || fail "$3: $1 has $lines lines, expected $2"
}

case_help() {
    run --help
    expect_rc 0 "rcnet --help"
    expect_out "Usage" "rcnet --help"
    for sub in info check train predict; do
        run "$sub" --help
        expect_rc 0 "rcnet $sub --help"
        expect_out "Usage" "rcnet $sub --help"
    done
    run --version
    expect_rc 0 "rcnet --version"
    expect_out "rcnet" "rcnet --version"
}

case_usage() {
    run
    expect_rc 2 "no subcommand"
    run frobnicate
    expect_rc 2 "unknown subcommand"
    run info
    expect_rc 2 "info without a file"
    run info a.txt b.txt
    expect_rc 2 "info with two files"
    run check "$data/net.txt" --kind spreadsheet
    expect_rc 2 "check --kind with a bad value"
    run train --patterns "$data/patterns.txt"
    expect_rc 2 "train without --out"
    run train --patterns "$data/patterns.txt" --out n.txt --type cubic
    expect_rc 2 "train --type with a bad name"
    run train --patterns "$data/patterns.txt" --out n.txt --neurons 0
    expect_rc 2 "train --neurons 0"
    run train --patterns "$data/patterns.txt" --out n.txt --neurons abc --leak-rate 1.5
    expect_err "'abc' is not a number" "train --neurons abc"
    run train --patterns "$data/patterns.txt" --out n.txt --neurons ten
    expect_rc 2 "train --neurons not a number"
    run train --patterns "$data/patterns.txt" --out n.txt --neurons 10 --connections 101
    expect_rc 2 "train --connections above neurons squared"
    expect_err "exceeds" "train --connections above neurons squared"
    run train --patterns "$data/patterns.txt" --out no_forward.txt --neurons 5 --connections 0
    expect_err "warning: --connections 0: the inputs reach no neuron" "train --connections 0"
    run train --patterns "$data/patterns.txt" --out n.txt --connections -1
    expect_rc 2 "train --connections -1"
    expect_err "--connections: must be at least 0, not -1" "a negative count, said plainly"
    [ "$(wc -c <err.txt)" -lt 200 ] || fail "the negative count's message is long: $(head -c 300 err.txt)"
    run train --patterns "$data/patterns.txt" --out n.txt --ridge x
    expect_rc 2 "train --ridge x"
    expect_err "--ridge must be auto or a number" "a ridge that is not a number"
    run train --patterns "$data/patterns.txt" --out n.txt --neurons 10 --inputs 3
    expect_rc 2 "train --inputs not the file's"
    expect_err "does not match" "train --inputs not the file's"
    [ -e n.txt ] && fail "a refused train wrote its output"
    run predict "$data/net.txt"
    expect_rc 2 "predict without a pattern file"
    run predict --targets
    expect_rc 2 "predict without files"
    # Refused input is not a usage error.
    run info missing.txt
    expect_rc 1 "info of a missing file"
    expect_err "missing.txt" "info of a missing file"
    run check missing.txt
    expect_rc 1 "check of a missing file"
}

# The fixture network: 2 inputs, 1 output, threshold, 4 bipolar sigmoid neurons, 6 forward and 2 back
# links, input matrix 2 x 4, readout 1 x 5.
case_info() {
    run info "$data/net.txt"
    expect_rc 0 "info of the fixture"
    for line in "inputs: 2" "outputs: 1" "threshold: on" "neurons: 4" "  sigmoid: 0" "  bisigmoid: 4" \
        "  rsdn: 0" "  linear: 0" "forward links: 6" "back links: 2" "input matrix: 2 x 4" "readout: 1 x 5" \
        "spectral radius: "; do
        expect_out "$line" "info of the fixture"
    done

    # A trained network with known counts.
    run train --patterns "$data/patterns.txt" --out trained.txt --neurons 30 --type rsdn --connections 90 \
        --back-connections 15 --seed 7
    expect_rc 0 "train for info"
    run info trained.txt
    expect_rc 0 "info of a trained network"
    for line in "inputs: 2" "outputs: 1" "threshold: on" "neurons: 30" "  sigmoid: 0" "  bisigmoid: 0" \
        "  rsdn: 30" "  linear: 0" "forward links: 90" "back links: 15" "input matrix: 2 x 30" "readout: 1 x 31"; do
        expect_out "$line" "info of a trained network"
    done
    # The radius of the back links (the step-to-step map), and that of the forward links, labelled.
    grep -Eq '^spectral radius: [0-9.e+-]+ \(back links' out.txt ||
        fail "info: no spectral radius line ($(grep radius out.txt))"
    grep -Eq '^forward-link radius: [0-9.e+-]+ \(forward links, within a step; dense QR' out.txt ||
        fail "info: no forward-link radius line ($(grep radius out.txt))"

    # Back links only: the radius is theirs (about sqrt(10 / 3) for 10 links per neuron with weights
    # evenly in [-1, 1]).
    run train --patterns "$data/patterns.txt" --out back.txt --neurons 200 --connections 0 --back-connections 2000 \
        --spectral-radius none --bias-scaling 0
    expect_rc 0 "train with back links only"
    run info back.txt
    expect_out "forward-link radius: 0 (no forward links)" "info with back links only"
    awk '/^spectral radius:/ { found = 1; if ($3 < 1.3 || $3 > 2.4) exit 1 } END { exit !found }' out.txt ||
        fail "info with back links only: $(grep radius out.txt)"

    # The reservoir settings: the radius reached, the leak rate and the bias kept in the file.
    run train --patterns "$data/patterns.txt" --out tuned.txt --neurons 100 --back-connections 800 \
        --spectral-radius 0.8 --input-scaling 0.5 --leak-rate 0.3 --bias-scaling 0.25
    expect_rc 0 "train with reservoir settings"
    grep -q "^bias 100 " tuned.txt || fail "the bias record is missing: $(tail -n 1 tuned.txt | cut -c1-40)"
    run info tuned.txt
    awk '/^bias: 100 values, largest magnitude / { found = 1; if ($6 <= 0 || $6 > 0.25) exit 1 } END { exit !found }' \
        out.txt || fail "info of a biased network: $(grep bias out.txt)"
    awk '/^spectral radius:/ { found = 1; if ($3 < 0.79999 || $3 > 0.80001) exit 1 } END { exit !found }' \
        out.txt || fail "info after --spectral-radius 0.8: $(grep radius out.txt)"
    expect_out "leak rate: 0.3 (each state keeps 0.7 of the previous one)" "info of a leaky network"
    grep -qx "leak-rate 0.3" tuned.txt || fail "the leak rate record is missing: $(tail -n 1 tuned.txt)"
    run train --patterns "$data/patterns.txt" --out n.txt --neurons 10 --spectral-radius 0.9 --back-connections 0
    expect_rc 2 "train --spectral-radius without back links"
    run train --patterns "$data/patterns.txt" --out n.txt --neurons 10 --leak-rate 0
    expect_rc 2 "train --leak-rate 0"
    run train --patterns "$data/patterns.txt" --out n.txt --neurons 10 --leak-rate 1.5
    expect_rc 2 "train --leak-rate above 1"
    run info back.txt
    expect_out "leak rate: 1 (plain step)" "info of a plain network"
    expect_out "bias: none" "info of a network without a bias"

    # Several pattern files: one training sequence each; then a closed-loop continuation.
    awk 'BEGIN { print "1 1 150"; for (t = 0; t < 150; ++t) printf "%.6f %.6f\n", sin(0.2 * t), sin(0.2 * (t + 1)) }' >a.pat
    awk 'BEGIN { print "1 1 150"; for (t = 0; t < 150; ++t) printf "%.6f %.6f\n", sin(0.2 * t + 2), sin(0.2 * t + 2.2) }' >b.pat
    run train --patterns a.pat --patterns b.pat --out seq.txt --neurons 40 --back-connections 200 --washout 20 \
        --solver stable
    expect_rc 0 "train on two sequences"
    expect_out "trained on 300 patterns (2 sequences)" "train on two sequences"
    run predict seq.txt a.pat --generate 5
    expect_rc 0 "predict --generate"
    expect_line_count out.txt 156 "predict --generate 5 after 150 patterns"
    # The loop continues the sine: sin(0.2 * 151) is about -0.937.
    awk -F, 'NR == 152 { exit !($1 > -0.96 && $1 < -0.91) }' out.txt || fail "generate: first free step $(sed -n 152p out.txt)"
    run predict seq.txt a.pat --targets --generate 2
    expect_rc 0 "predict --targets --generate"
    [ "$(tail -n 1 out.txt | tr -cd ',' | wc -c)" = 1 ] || fail "generated rows keep an empty target column"
    # A feedback map: the one-tap map is GenerateNet's loop, digit for digit; a constant input comes from
    # --future, the fed-back column's nan from the loop.
    cp out.txt plain.txt
    run predict seq.txt a.pat --targets --generate 2 --feedback 0:0:1
    cmp -s out.txt plain.txt || fail "--feedback 0:0:1 differs from the plain closed loop"
    awk 'BEGIN { print "2 1 150"; for (t = 0; t < 150; ++t) printf "%.6f 0.5 %.6f\n", sin(0.2 * t), sin(0.2 * (t + 1)) }' >c.pat
    run train --patterns c.pat --out const.txt --neurons 40 --back-connections 200 --washout 20 --solver stable
    expect_rc 0 "train with a constant input"
    printf 'y,constant\nnan,0.5\nnan,0.5\n,0.5\n' >future.csv
    run predict const.txt c.pat --generate 3 --feedback 0:0:1 --future future.csv
    expect_rc 0 "predict --generate with a feedback map and --future"
    awk -F, 'NR == 152 { exit !($1 > -0.96 && $1 < -0.91) }' out.txt || fail "mapped loop: first free step $(sed -n 152p out.txt)"
    run predict const.txt c.pat --generate 3 --feedback 0:0:1
    expect_rc 2 "a feedback map that leaves an input to the host needs --future"
    expect_err "give the others' values" "input left to the host"
    run predict const.txt c.pat --generate 3 --feedback 0:0:1,0:0:2 --future future.csv
    expect_rc 2 "an input fed back twice"
    run predict const.txt c.pat --generate 3 --feedback 1:1:1 --future future.csv
    expect_rc 2 "a tap out of range"
    expect_err "out of range" "a tap out of range"
    run predict const.txt c.pat --generate 4 --feedback 0:0:1 --future future.csv
    expect_rc 1 "--future with too few rows"
    printf 'nan,nan\nnan,0.5\nnan,0.5\n' >unknown.csv
    run predict const.txt c.pat --generate 3 --feedback 0:0:1 --future unknown.csv
    expect_rc 1 "--future with a nan the loop reads"
    run predict "$data/../data/none" a.pat --generate 1
    expect_rc 1 "predict --generate of a missing network"

    # The defaults give skill: back links, the stable readout, a washout.
    run train --patterns a.pat --out defaults.txt --neurons 40
    expect_rc 0 "train with the defaults"
    run info defaults.txt
    expect_out "back links: 200" "the default back links"
    run predict defaults.txt a.pat --targets --washout 20
    expect_rc 0 "predict --washout"
    expect_line_count out.txt 131 "predict --washout 20 of 150 patterns"
    awk '/^RMSE:/ { found = 1; if ($2 > 1e-3) exit 1 } END { exit !found }' err.txt ||
        fail "the defaults give no skill: $(cat err.txt)"
    expect_err "(130 patterns, 1 output)" "predict --washout scores the rest"
    run predict defaults.txt a.pat --washout 151
    expect_rc 2 "predict --washout past the file"

    # Warnings: values that cannot train, too few patterns, a readout of zeros.
    awk 'BEGIN { print "1 1 30"; for (t = 0; t < 30; ++t) printf "%s %.6f\n", t == 5 ? "nan" : sprintf("%.6f", sin(t)), sin(t + 1) }' >nan.pat
    run train --patterns nan.pat --out nan.txt --neurons 40
    expect_rc 1 "NaN training data"
    expect_err "nan.pat has 1 input values that are NaN or infinite (the first in pattern 6)" "NaN training data"
    [ -e nan.txt ] && fail "training on NaN wrote a network"
    awk 'BEGIN { print "1 1 30"; for (t = 0; t < 30; ++t) printf "%.6f %.6f\n", sin(t), sin(t + 1) }' >few.pat
    run train --patterns few.pat --out few.txt --neurons 40 --ridge 0
    expect_err "warning: fewer patterns to fit than readout weights (40 neurons) and no ridge" "fewer patterns than neurons"
    run train --patterns few.pat --out few.txt --neurons 40
    expect_no_err "fewer patterns" "fewer patterns than neurons with a ridge"
    # CSV training data (a header naming the target columns, or --inputs) trains the network the same
    # pattern file does, byte for byte.
    awk 'BEGIN { print "input0,target0"; for (t = 0; t < 30; ++t) printf "%.6f,%.6f\n", sin(t), sin(t + 1) }' >few.csv
    run train --patterns few.csv --out few-csv.txt --neurons 40
    expect_rc 0 "train on CSV"
    cmp -s few.txt few-csv.txt || fail "CSV training data gave another network than the pattern file"
    tail -n +2 few.csv >bare.csv
    run train --patterns bare.csv --out bare.txt --neurons 40 --inputs 1
    cmp -s few.txt bare.txt || fail "a CSV without header and --inputs 1 gave another network"
    run train --patterns bare.csv --out bare.txt --neurons 40
    expect_rc 1 "CSV without a header or --inputs"
    expect_err "which columns are targets" "CSV without a header or --inputs"
    # The training data is never overwritten, and a network file is not read as patterns.
    cp few.pat keep.pat
    run train --patterns few.pat --out ./few.pat --neurons 5
    expect_rc 2 "--out naming a pattern file"
    cmp -s few.pat keep.pat || fail "train overwrote its training data"
    run predict few.txt few.txt
    expect_rc 2 "predict NET NET"
    expect_err "is a network file" "predict NET NET"
    # Inputs on a line, no memory, the normal equations: dependent states and an all-zero readout, which
    # the library reports; the tool adds what helps. Zero targets: 0 is the fit, and nothing is said.
    awk 'BEGIN { print "2 1 20"; for (p = 0; p < 20; ++p) printf "%.6f %.6f %.6f\n", 0.1 * p, -0.05 * p, 0.3 * p }' >line.pat
    run train --patterns line.pat --out line.txt --neurons 10 --connections 20 --back-connections 0 --solver normal \
        --ridge 0 --washout 0 --bias-scaling 0 --input-scaling 1 --absolute-input-scaling
    expect_rc 0 "train on dependent states"
    expect_err "readout of output 0 not all zero (the states did not fit the targets" "the library's report"
    expect_err "warning: every weight of an output's readout is 0" "an all-zero readout"
    awk 'BEGIN { print "1 1 100"; for (t = 0; t < 100; ++t) printf "%.6f 0\n", sin(t) }' >zero.pat
    run train --patterns zero.pat --out zero.txt --neurons 10
    expect_rc 0 "train on zero targets"
    expect_no_err "readout" "zero targets: 0 is the fit"

    run train --patterns "$data/patterns.txt" --out plain.txt --neurons 12 --type linear --no-threshold --back-connections 0
    expect_rc 0 "train without threshold"
    run info plain.txt
    for line in "threshold: off" "neurons: 12" "  linear: 12" "forward links: 60" "back links: 0" "readout: 1 x 12"; do
        expect_out "$line" "info without threshold"
    done

    # One cycle 1 -> 2 -> 3 -> 1 with weights 2, 2, 2: radius exactly 2, of the back links or the forward
    # links, whichever hold it.
    printf '1 1 0\n0 0\n3\n3\n1\n0\n1\n1 2 2\n3\n2\n0\n1\n2 2 3\n3\n3\n0\n1\n3 2 1\n1 3\n1 1 1 \n' >cycle.txt
    run info cycle.txt
    expect_rc 0 "info of a back-link cycle"
    expect_out "spectral radius: 2 (back links, the step-to-step map; dense QR, largest strongly connected block 3)" \
        "info of a back-link cycle"
    expect_out "forward-link radius: 0 (no forward links)" "info of a back-link cycle"
    expect_out "readout: 0 x 0 (not trained)" "info of a back-link cycle"
    printf '1 1 0\n0 0\n3\n3\n1\n1\n1 2 2\n0\n3\n2\n1\n2 2 3\n0\n3\n3\n1\n3 2 1\n0\n1 3\n1 1 1 \n' >cycle.txt
    run info cycle.txt
    expect_rc 0 "info of a forward-link cycle"
    expect_out "spectral radius: 0 (no back links)" "info of a forward-link cycle"
    expect_out "forward-link radius: 2 (" "info of a forward-link cycle"

    # A file the library refuses: the reason, with line and column.
    run info "$data/net_bad_weight.txt"
    expect_rc 1 "info of a refused file"
    expect_err "line 8, column 3: 'x1' is not a number" "info of a refused file"
}

case_check() {
    run check "$data/net.txt"
    expect_rc 0 "check net.txt"
    expect_out "accepted as a network file (guessed" "check net.txt"
    run check "$data/patterns.txt"
    expect_rc 0 "check patterns.txt"
    expect_out "accepted as a pattern file (guessed" "check patterns.txt"
    expect_out "2 inputs, 1 target, 40 patterns" "check patterns.txt"
    run check --kind net "$data/net.txt"
    expect_rc 0 "check --kind net"
    # Read as patterns, a network file is one pattern of three values and text the reader never reaches.
    run check --kind patterns "$data/net.txt"
    expect_rc 0 "check a network file as patterns"
    expect_err "line 3, column 9: warning: text after the last of the 1 announced patterns is ignored" \
        "check a network file as patterns"
    run check --kind net "$data/patterns.txt"
    expect_rc 1 "check a pattern file as a network"

    # Refused files: the exact place and reason.
    check_refused() {
        local file=$1 kind=$2 where=$3 why=$4
        run check --kind "$kind" "$data/$file"
        expect_rc 1 "check $file"
        expect_err "$file: $where: $why" "check $file"
        expect_out "refused" "check $file"
    }
    check_refused net_bad_weight.txt net "line 8, column 3" \
        "'x1' is not a number (expected the weight of forward link 1 of 1 of neuron record 1 of 4 (id 1))"
    check_refused net_bad_type.txt net "line 10, column 1" "'7' is not a neuron type"
    check_refused net_bad_flag.txt net "line 1, column 5" "'2' is not 0 or 1 (expected the threshold flag"
    check_refused net_glued_id.txt net "line 6, column 2" "'.5' is not a number"
    check_refused net_readout_too_big.txt net "line 2, column 1" "the readout header announces 100000 x 100000 values"
    check_refused net_truncated.txt net "line 30, column 18" \
        "the file ends too early (expected value 3 of 4 of row 1 of 2 of the input matrix)"
    check_refused patterns_bad_value.txt patterns "line 6, column 11" "'x' is not a number (expected target 1 of 1 of pattern 5 of 40"
    check_refused patterns_bad_header.txt patterns "line 1, column 3" "'one' is not a number (expected the output size"
    check_refused patterns_out_of_range.txt patterns "line 13, column 16" "'1e999' is out of the range of a double"
    check_refused patterns_truncated.txt patterns "line 40, column 24" "the file ends too early"

    # The guess: a bad flag still looks like a network file, a bad header with values like patterns.
    run check "$data/net_bad_flag.txt"
    expect_out "refused as a network file (guessed" "guess for a bad flag"
    run check "$data/patterns_bad_header.txt"
    expect_out "refused as a pattern file (guessed" "guess for a bad pattern header"

    # Accepted with warnings, each at its line.
    run check "$data/net_warnings.txt"
    expect_rc 0 "check net_warnings.txt"
    expect_err "line 13, column 1: warning: forward link 2 -> 9: no neuron has id 9" "unknown target"
    expect_err "line 16, column 1: warning: neuron record 3 repeats id 2 of neuron record 2 (line 11)" "repeated id"
    expect_err "line 18, column 1: warning: forward link 3 -> 2: no neuron has id 3" "unknown source"
    expect_err "line 2, column 1: warning: readout rows have 5 weights, but 3 neurons (4 records) and the threshold need 4" \
        "readout columns"
    expect_err "line 32, column 1: warning: text after the input matrix is ignored: 'end'" "trailing text"
    expect_out "9 warnings" "check net_warnings.txt"
    run check "$data/net_untrained.txt"
    expect_rc 0 "check an untrained network"
    expect_err "line 2, column 1: warning: the readout is empty" "untrained network"

    # Warnings about sizes: input matrix and readout rows.
    printf '3 2 0\n1 2\n0.5 0.5 \n2\n3\n1\n0\n0\n3\n2\n0\n0\n2 3\n1 2 3 \n4 5 6 \n' >sizes.txt
    run check sizes.txt
    expect_rc 0 "check sizes.txt"
    expect_err "line 2, column 1: warning: the readout has 1 row for 2 outputs" "readout rows"
    expect_err "line 13, column 1: warning: the input matrix has 2 rows for 3 inputs" "input matrix rows"
    expect_err "line 13, column 1: warning: the input matrix has 3 columns for 2 neurons" "input matrix columns"
    # Readout weights too large for the file's 6 digits to keep the outputs.
    printf '1 1 0\n1 1\n-50000 \n1\n1\n1\n0\n0\n1 1\n1 \n' >large.txt
    run check large.txt
    expect_rc 0 "check large.txt"
    expect_err "line 2, column 1: warning: readout weights reach 5e+04 but are written with at most 1 significant" \
        "large readout weights"
    # Written with every digit (exact), the same weights need no warning, and info says so.
    printf '1 1 0\n1 1\n-50000.651592972725 \n1\n1\n1\n0\n0\n1 1\n1 \n' >exact.txt
    run check exact.txt
    expect_rc 0 "check exact.txt"
    grep -q "readout weights reach" err.txt && fail "an exact file's large weights were warned about"
    run info exact.txt
    expect_out "readout digits: 17 (exact)" "info of an exact file"
    run info large.txt
    expect_out "readout digits: 1" "info of a short file"
    expect_err "rcnet info: warning: readout weights reach 5e+04" "info warns too"
    printf '2 1 2\n1 2-3\n4 5 6 extra\n' >joined.txt
    run check joined.txt
    expect_rc 0 "check joined.txt"
    expect_err "line 2, column 3: warning: '2-3' is read as two values, '2' and '-3'" "joined values"
    expect_err "line 3, column 7: warning: text after the last of the 2 announced patterns is ignored: 'extra'" \
        "pattern trailing text"
}

case_train_predict() {
    run train --patterns "$data/patterns.txt" --out a.txt --neurons 20 --connections 60 --back-connections 10 --seed 5
    expect_rc 0 "train"
    expect_out "a.txt: 20 neurons" "train"
    grep -Eq 'with ridge [0-9.e+-]+ \(chosen\)' out.txt || fail "train: no chosen ridge: $(cat out.txt)"
    run train --patterns "$data/patterns.txt" --out b.txt --neurons 20 --connections 60 --back-connections 10 --seed 5
    cmp -s a.txt b.txt || fail "the same seed wrote different networks"
    run train --patterns "$data/patterns.txt" --out c.txt --neurons 20 --connections 60 --back-connections 10 --seed 6
    cmp -s a.txt c.txt && fail "another seed wrote the same network"
    run check --kind net a.txt
    expect_rc 0 "the trained network checks"

    run predict a.txt "$data/patterns.txt"
    expect_rc 0 "predict"
    expect_line_count out.txt 41 "predict (header and 40 patterns)"
    [ "$(head -n 1 out.txt)" = "output0" ] || fail "predict header: $(head -n 1 out.txt)"
    [ -s err.txt ] && fail "predict without --targets wrote to stderr: $(cat err.txt)"
    cp out.txt plain.csv

    run predict a.txt "$data/patterns.txt" --targets
    expect_rc 0 "predict --targets"
    expect_line_count out.txt 41 "predict --targets"
    [ "$(head -n 1 out.txt)" = "output0,target0" ] || fail "predict --targets header: $(head -n 1 out.txt)"
    # The score leaves out the start-up (a tenth, as train's washout) and says so; --washout 0 scores all.
    grep -Eq '^RMSE: [0-9.e+-]+ \(36 patterns, 1 output, 4 start-up patterns left out' err.txt ||
        fail "predict --targets: RMSE line: $(cat err.txt)"
    # The target column is the pattern file's third column, the outputs those of the plain run (the
    # network starts from zero states on every load).
    tail -n +2 out.txt | cut -d, -f2 >targets.txt
    tail -n +2 "$data/patterns.txt" | awk '{ print $3 }' >expected.txt
    awk 'NR == FNR { t[FNR] = $1; next } { if ($1 + 0 != t[FNR] + 0) bad = 1 } END { exit bad }' \
        expected.txt targets.txt || fail "predict --targets: target column differs from the file"
    cut -d, -f1 out.txt | cmp -s - plain.csv || fail "predict --targets: outputs differ from the plain run"
    # The readout is linear in the states and the targets are linear in the inputs: the fit is close.
    awk '{ if ($2 + 0 > 0.05) exit 1 }' err.txt || fail "predict --targets: RMSE too large: $(cat err.txt)"

    # The readout settings: another fit of the same reservoir (the links are the same, the weights not).
    run train --patterns "$data/patterns.txt" --out s.txt --neurons 20 --connections 60 --back-connections 10 \
        --seed 5 --solver stable --washout 5 --ridge 1e-9 --jointly
    expect_rc 0 "train --solver stable"
    expect_out "with ridge 1e-09 in" "train --ridge 1e-9"
    cmp -s <(tail -n +4 a.txt) <(tail -n +4 s.txt) || fail "the stable readout changed the reservoir"
    cmp -s a.txt s.txt && fail "the stable readout wrote the same weights"
    run predict s.txt "$data/patterns.txt" --targets
    awk '{ if ($2 + 0 > 0.05) exit 1 }' err.txt || fail "stable readout: RMSE too large: $(cat err.txt)"
    run train --patterns "$data/patterns.txt" --out n.txt --solver exact
    expect_rc 2 "train --solver with a bad name"
    run train --patterns "$data/patterns.txt" --out n.txt --ridge -1
    expect_rc 2 "train --ridge negative"
    run train --patterns "$data/patterns.txt" --out n.txt --washout 40
    expect_rc 2 "train --washout of every pattern"
    expect_err "leaves none of the 40 patterns" "train --washout of every pattern"
    [ -e n.txt ] && fail "a refused train wrote its output"

    # Refused: input size, untrained network, refused pattern file.
    printf '3 1 1\n1 2 3 4\n' >three.txt
    run predict a.txt three.txt
    expect_rc 1 "predict with another input size"
    expect_err "has 3 inputs per pattern, the network 2" "predict with another input size"
    run predict "$data/net_untrained.txt" "$data/patterns.txt"
    expect_rc 1 "predict with an untrained network"
    expect_err "never trained" "predict with an untrained network"
    [ -s out.txt ] && fail "predict with an untrained network wrote output"
    run predict a.txt "$data/patterns_bad_value.txt"
    expect_rc 1 "predict with a refused pattern file"
    expect_err "line 6, column 11" "predict with a refused pattern file"
    run train --patterns "$data/patterns_truncated.txt" --out d.txt
    expect_rc 1 "train on a refused pattern file"
    expect_err "patterns_truncated.txt: line 40, column 24: the file ends too early" "train on a refused pattern file"
    printf '2 1 0\n' >none.txt
    run train --patterns none.txt --out d.txt
    expect_rc 1 "train without patterns"
    [ -e d.txt ] && fail "a failed train wrote its output"
    run train --patterns "$data/patterns.txt" --out missing-dir/d.txt --neurons 5
    expect_rc 1 "train into a missing directory"
    expect_err "there is no directory missing-dir" "train into a missing directory"
    expect_no_err "Assertion failed" "train into a missing directory"

    # Inputs the network cannot run on are refused, naming the pattern; unknown targets are not scored.
    tail -n +2 "$data/patterns.txt" | tr ' ' , >rows.csv
    sed '5s/^[^,]*,/nan,/' rows.csv >nan_input.csv
    run predict a.txt nan_input.csv
    expect_err "input 0 of pattern 5 is nan" "predict with a nan input"
    sed '5s/,[^,]*$/,nan/' rows.csv >nan_target.csv
    run predict a.txt nan_target.csv --targets --washout 0
    expect_err "(40 patterns, 1 output, 1 unknown targets left out)" "predict with a nan target"
    # A headerless CSV keeps its first row whatever a spreadsheet puts around the numbers.
    { printf '\357\273\277'; sed '1s/,\([0-9]\)/,+\1/; s/,/ , /g' rows.csv; } >spread.csv
    run predict a.txt spread.csv
    expect_line_count out.txt 41 "predict a CSV with a byte-order mark, a plus sign and blanks"
    cmp -s out.txt plain.csv || fail "predict of the spreadsheet's CSV differs from the plain run"
    # A header that names no target column: --inputs says where the targets start.
    { echo 'u,v,y'; cat rows.csv; } >named.csv
    run train --patterns named.csv --out named.txt --inputs 2 --neurons 5
    expect_rc 0 "train on a CSV header without target columns, with --inputs"
    # Sequences marked in the file: each from zero states in predict, as in train, and its own washout.
    { cat "$data/patterns.txt"; echo 'sequences 2 0 20'; } >marked.txt
    { echo '2 1 20'; tail -n 20 "$data/patterns.txt"; } >second.txt
    run predict a.txt marked.txt
    tail -n 20 out.txt >marked_second.csv
    run predict a.txt second.txt
    tail -n 20 out.txt | cmp -s - marked_second.csv || fail "predict: a marked sequence does not start from zero states"
    run check marked.txt
    expect_out "40 patterns in 2 sequences" "check of a file with sequences"
    # CSV as train and predict read it, whatever the extension's case.
    cp named.csv NAMED.CSV
    run check NAMED.CSV
    expect_out "accepted as a CSV file: 3 columns, 40 rows (header u, v, y)" "check of a CSV file"
    { cat "$data/patterns.txt"; echo 'sequences 4 0 10 20 30'; } >short_sequences.txt
    run train --patterns short_sequences.txt --out q.txt --neurons 5
    expect_out "(4 sequences)" "train on short marked sequences"
    # Refused before any work: no inputs to drive a reservoir.
    printf '0 1 3\n1 2 3\n' >no_inputs.txt
    run train --patterns no_inputs.txt --out z.txt --neurons 5
    expect_err "no inputs per pattern" "train without inputs"
    # Output that cannot be written is a failure, with the reason.
    if [ -w /dev/full ]; then
        "$rcnet" info a.txt >/dev/full 2>err.txt
        [ $? = 1 ] || fail "info into a full disk: exit code not 1"
        expect_err "the output could not be written" "info into a full disk"
    fi
    run train --patterns "$data/patterns.txt" --out /proc/d.txt --neurons 5
    expect_err "/proc/d.txt: cannot be saved" "train into a directory where no file can be made"
    expect_no_err "Assertion failed" "train into a directory where no file can be made"
}

# Every fixture: check's verdict is the library's (info loads with LoadNetFromFile, predict reads the
# pattern file with the library's reader).
case_check_load_agreement() {
    for file in "$data"/net*.txt; do
        run check --kind net "$file"
        local checked=$rc
        run info "$file"
        [ "$checked" = "$rc" ] || fail "$(basename "$file"): check exits $checked, info exits $rc"
    done
    for file in "$data"/patterns*.txt; do
        run check --kind patterns "$file"
        local checked=$rc
        run predict "$data/net.txt" "$file"
        [ "$checked" = "$rc" ] || fail "$(basename "$file"): check exits $checked, predict exits $rc"
    done
}

case_progress() {
    RCNET_PROGRESS=always "$rcnet" train --patterns "$data/patterns.txt" --out p.txt --neurons 10 >out.txt 2>err.txt
    rc=$?
    expect_rc 0 "train with progress"
    for phase in "checking the pattern files" "building the reservoir" "reading the patterns" \
        "training the readout" "saving"; do
        expect_err "$phase: done in" "progress phases"
    done
    # The library's fraction beside the training phase, rising (a second of training: several redraws).
    awk 'BEGIN { print "1 1 30000"; for (t = 0; t < 30000; ++t) printf "%.6f %.6f\n", sin(0.2 * t), sin(0.2 * (t + 1)) }' >big.pat
    RCNET_PROGRESS=always "$rcnet" train --patterns big.pat --out big.txt --neurons 400 >out.txt 2>err.txt
    tr '\r' '\n' <err.txt | awk '/training the readout +[0-9]+%/ { p = $0; sub(/.*readout +/, "", p); sub(/%.*/, "", p);
        if (p + 0 < last) bad = 1; last = p + 0; n++ } END { exit !(n >= 2 && !bad) }' ||
        fail "training shows no rising fraction: $(tr '\r' '\n' <err.txt | grep -c %) lines with one"
    # Not a terminal and not asked for: nothing.
    run train --patterns "$data/patterns.txt" --out q.txt --neurons 10
    [ -s err.txt ] && fail "progress shown without a terminal: $(cat err.txt)"
}

"case_$case"
if [ "$failures" -gt 0 ]; then
    echo "$case: $failures failures" >&2
    exit 1
fi
echo "$case: passed"
