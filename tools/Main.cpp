// rcnet: the command-line tool. Parses the command line with CLI11 and runs one subcommand.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <new>
#include <string>

#include "tools/Commands.h"

#ifndef RCNET_VERSION
#define RCNET_VERSION "unknown"
#endif

using namespace rcnet::tools;

namespace {

// A number from low (or above it) up to high, said as users write it: CLI11's own checks print the
// largest double in full, six decimals, and "Value abc not in range" for a word.
CLI::Validator Bounded(double low, bool inclusive, double high, std::string shown) {
    const std::string bound = std::isinf(high)
                                  ? (inclusive ? "at least " : "above ") + CLI::detail::to_string(low)
                                  : (inclusive ? "from " : "above ") + CLI::detail::to_string(low) +
                                        (inclusive ? " to " : " and at most ") + CLI::detail::to_string(high);
    return CLI::Validator(
        [low, inclusive, high, bound](std::string& text) -> std::string {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0') return "'" + text + "' is not a number";
            if ((inclusive ? value >= low : value > low) && value <= high) return "";
            return "must be " + bound + ", not " + text;
        },
        shown.empty() ? "NUMBER " + bound : shown);
}

CLI::Validator AtLeast(double low, bool inclusive) {
    return Bounded(low, inclusive, HUGE_VAL,
                   (inclusive ? "NUMBER >= " : "NUMBER > ") + CLI::detail::to_string(low));
}

CLI::Validator Between(double low, double high, bool inclusive) {
    return Bounded(low, inclusive, high, "");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"rcnet: reservoir-computing (echo state) networks from the command line"};
    app.name("rcnet");
    app.set_version_flag("--version", std::string("rcnet ") + RCNET_VERSION);
    app.require_subcommand(1);

    InfoOptions info;
    CLI::App* infoCommand =
        app.add_subcommand("info", "Show what a network file holds, as the library loads it");
    infoCommand->add_option("NETFILE", info.netFile, "Network file")->required();

    CheckOptions check;
    CLI::App* checkCommand = app.add_subcommand(
        "check",
        "Check a network or pattern file: exit 0 when the library accepts it, else 1, with line, column "
        "and reason; warnings for what looks wrong");
    checkCommand->add_option("FILE", check.file, "Network or pattern file")->required();
    checkCommand->add_option("--kind", check.kind, "What the file is (guessed when not given)")
        ->check(CLI::IsMember({"net", "patterns"}));

    TrainOptions train;
    const std::map<std::string, int> types{{"sigmoid", 0}, {"bisigmoid", 1}, {"rsdn", 2}, {"linear", 3}};
    CLI::App* trainCommand = app.add_subcommand(
        "train", "Build a random reservoir, train its readout on a pattern file and save the network");
    trainCommand
        ->add_option("--patterns", train.patternFiles,
                     "Pattern file to train on; several (repeat the option): one training sequence each")
        ->required();
    trainCommand->add_option("--out", train.outFile, "Network file to write")->required();
    // The library draws link ends among the first 32768 neurons only.
    trainCommand->add_option("--neurons", train.neurons, "Number of neurons")
        ->capture_default_str()
        ->check(Between(1, 32768, true));
    trainCommand
        ->add_option("--type", train.type, "Neuron type: sigmoid (0), bisigmoid (1), rsdn (2), linear (3)")
        ->option_text("TYPE=bisigmoid")
        ->transform(CLI::CheckedTransformer(types, CLI::ignore_case));
    trainCommand
        ->add_option("--connections", train.connections, "Random forward links (default: 5 per neuron)")
        ->check(AtLeast(0, true));
    trainCommand
        ->add_option("--back-connections", train.backConnections,
                     "Random back links, the reservoir's memory (default: 5 per neuron)")
        ->check(AtLeast(0, true));
    trainCommand->add_option("--seed", train.seed, "Seed of the library's random generator")
        ->capture_default_str();
    // Two flags rather than CLI11's negated names, whose help shows "{false}" as if it were the default.
    trainCommand->add_flag("--threshold", train.threshold,
                           "Give the readout a threshold (constant) term (the default)");
    trainCommand
        ->add_flag_callback(
            "--no-threshold", [&train] { train.threshold = false; }, "No threshold term")
        ->excludes("--threshold");
    trainCommand->add_option("--inputs", train.inputs, "Input size; must match the pattern file's header")
        ->check(AtLeast(0, true));
    trainCommand->add_option("--outputs", train.outputs, "Output size; must match the pattern file's header")
        ->check(AtLeast(0, true));
    const std::map<std::string, int> solvers{{"normal", 0}, {"stable", 1}};
    trainCommand
        ->add_option("--solver", train.solver,
                     "Readout fit: stable (QR least squares, the default) or normal (normal equations)")
        ->option_text("SOLVER=stable")
        ->transform(CLI::CheckedTransformer(solvers, CLI::ignore_case));
    trainCommand
        ->add_option("--washout", train.washout,
                     "Leading patterns of each sequence (file, or one its sequences record marks) that run "
                     "the reservoir but are not fitted (default: a tenth of the shortest sequence)")
        ->check(AtLeast(0, true));
    trainCommand
        ->add_option(
            "--ridge", train.ridge,
            "Ridge penalty on the readout weights (not the threshold), or auto: chosen from the data "
            "by cross-validation in time")
        ->capture_default_str();
    trainCommand->add_flag("--jointly", train.jointly,
                           "Fit all outputs from one pass over the patterns (the default)");
    trainCommand
        ->add_flag_callback(
            "--separately", [&train] { train.jointly = false; }, "One pass for each output")
        ->excludes("--jointly");
    trainCommand->add_option(
        "--spectral-radius", train.spectralRadius,
        "Scale the back links to this spectral radius (default: 1.2), or none: as drawn");
    trainCommand
        ->add_option("--input-scaling", train.inputScaling,
                     "Multiply the input matrix by this over the training inputs' spread (the square root "
                     "of their variance, averaged over inputs)")
        ->capture_default_str();
    trainCommand->add_flag("--absolute-input-scaling", train.absoluteInputScaling,
                           "Multiply the input matrix by --input-scaling as given");
    trainCommand
        ->add_option("--leak-rate", train.leakRate,
                     "Leaky neurons: each state keeps 1 - RATE of the previous one, 0 < RATE <= 1")
        ->capture_default_str()
        ->check(Between(0, 1, false));
    trainCommand
        ->add_option("--bias-scaling", train.biasScaling,
                     "A constant input term per neuron, drawn in [-1, 1] times this (0: none)")
        ->capture_default_str();
    trainCommand
        ->add_option("--digits", train.digits,
                     "Significant digits of the saved file: 0, exact (the default), or 6 to 17 (6: the "
                     "format's own)")
        ->capture_default_str();

    PredictOptions predict;
    CLI::App* predictCommand = app.add_subcommand(
        "predict", "Run a pattern file's inputs through a network in order; outputs as CSV");
    predictCommand->add_option("NETFILE", predict.netFile, "Network file")->required();
    predictCommand->add_option("PATTERNFILE", predict.patternFile, "Pattern file")->required();
    predictCommand->add_flag("--targets", predict.targets,
                             "Add the pattern file's targets as columns and write the RMSE to stderr");
    predictCommand
        ->add_option("--washout", predict.washout,
                     "Leading patterns (of each sequence) that run the network but are neither printed nor "
                     "scored (default: all printed; --targets scores all but the first tenth)")
        ->check(AtLeast(0, true));
    predictCommand
        ->add_option("--generate", predict.generate,
                     "Then run K steps in closed loop, each fed the previous output (inputs = outputs)")
        ->option_text("K")
        ->check(AtLeast(0, true));
    predictCommand
        ->add_option("--feedback", predict.feedback,
                     "The closed loop's feedback map: input I of a step is output O of the step D steps "
                     "before (I:O:D, comma-separated, counted from 0)")
        ->option_text("MAP");
    predictCommand
        ->add_option("--future", predict.future,
                     "CSV of the K closed-loop steps' inputs (a row each; nan where a fed-back value goes)")
        ->option_text("FILE");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version exit 0; every other parse error is a usage error.
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }

    // Out of memory (a huge --generate, a huge file) ends the command with a message, and what was
    // printed before it is still flushed.
    try {
        const char* name = *infoCommand    ? "info"
                           : *checkCommand ? "check"
                           : *trainCommand ? "train"
                                           : "predict";
        const int code = *infoCommand    ? RunInfo(info)
                         : *checkCommand ? RunCheck(check)
                         : *trainCommand ? RunTrain(train)
                                         : RunPredict(predict);
        // A full disk or a closed pipe is a failure too, not a truncated answer with exit 0.
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "rcnet %s: the output could not be written\n", name);
            return kExitFailure;
        }
        return code;
    } catch (const std::bad_alloc&) {
        std::fflush(stdout);
        std::fprintf(stderr, "rcnet: out of memory\n");
    } catch (const std::exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "rcnet: %s\n", e.what());
    }
    return kExitFailure;
}
