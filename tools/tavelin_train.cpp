// tavelin-train: the window program's training, without the window, then
// an evaluation on the held-out test set.
//
//   tavelin-train [--data DIR] [--test DIR] [--min-steps N] [--predictions FILE] [--normalise]
//
// Exit status: 0 done, 1 unusable data, 2 bad arguments.
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "training/data_folder.h"
#include "training/network.h"
#include "training/normalise.h"
#include "training/recognize.h"
#include "training/standard_streams.h"
#include "training/whole_file.h"

using namespace tavelin;

namespace {

struct Options {
    std::string data_dir;  // empty: find_data_folder's
    std::string test_dir;  // empty: the data directory
    bool test_dir_given = false;
    int32_t min_steps = default_min_steps;
    std::string predictions;
    bool normalise = false;
};

const std::string usage =
    "usage: tavelin-train [--data DIR] [--test DIR] [--min-steps N] [--predictions FILE] [--normalise]\n"
    "  --data DIR          training files DIR/" + std::string(training_images_name) + " and\n"
    "                      DIR/" + training_labels_name + " (default: data when it\n"
    "                      holds them, else the user's data folder, which\n"
    "                      tavelin-get-data fills, else the installed data)\n"
    "  --test DIR          test files DIR/" + test_images_name + " and\n"
    "                      DIR/" + test_labels_name + " (default: the --data DIR)\n"
    "  --min-steps N       train whole passes until at least N steps (default " +
    std::to_string(default_min_steps) + ")\n"
    "  --predictions FILE  write index,label,predicted,confidence for every test image\n"
    "  --normalise         recognise each test image as the window recognises a\n"
    "                      drawing: fitted into a 20 x 20 box and centred by its\n"
    "                      centre of mass first; an image without ink is no digit\n"
    "Each file is also found as MNIST is downloaded: with a dash for the dot\n"
    "(train-images-idx3-ubyte), gzipped (.gz), or both.\n";

// Whether everything printed reached standard output (a full disk, a
// closed pipe): results that were lost must not pass for success.
bool standard_output_ok() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
    std::fprintf(stderr, "tavelin-train: cannot write to standard output: %s\n", std::strerror(errno));
    return false;
}

// Returns 0 when the arguments are usable, else prints why and returns 2.
int parse_options(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage.c_str(), stdout);
            std::exit(standard_output_ok() ? 0 : 1);
        }
        if (arg == "--normalise") {
            o.normalise = true;
            continue;
        }
        const bool takes_value =
            arg == "--data" || arg == "--test" || arg == "--min-steps" || arg == "--predictions";
        if (!takes_value) {
            std::fprintf(stderr, "tavelin-train: unknown argument '%s'\n%s", arg.c_str(), usage.c_str());
            return 2;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "tavelin-train: %s needs a value\n%s", arg.c_str(), usage.c_str());
            return 2;
        }
        const std::string value = argv[++i];
        // An empty word would silently mean "/train-images..." or no file.
        if (value.empty() && arg != "--min-steps") {
            std::fprintf(stderr, "tavelin-train: %s needs a value, not an empty word\n%s", arg.c_str(), usage.c_str());
            return 2;
        }
        if (arg == "--data") {
            o.data_dir = value;
        } else if (arg == "--test") {
            o.test_dir = value;
            o.test_dir_given = true;
        } else if (arg == "--predictions") {
            o.predictions = value;
        } else {
            char* end = nullptr;
            errno = 0;
            const long n = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 2000000000L) {
                std::fprintf(stderr,
                             "tavelin-train: --min-steps wants a whole number from 1 to 2000000000, "
                             "not '%s'\n%s",
                             value.c_str(), usage.c_str());
                return 2;
            }
            o.min_steps = int32_t(n);
        }
    }
    return 0;
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

struct Evaluation {
    int32_t confusion[digit_count][digit_count] = {};
    int32_t correct = 0;
    int32_t no_digit = 0;       // recognize gave -1
    int32_t bad_labels = 0;     // label above 9: counted as wrong, not in the matrix
};

void print_evaluation(const Evaluation& ev, int32_t count) {
    std::printf("accuracy: %.2f%% (%d of %d)\n", count ? 100.0 * ev.correct / count : 0.0, ev.correct,
                count);
    std::printf("no digit (-1): %d\n", ev.no_digit);
    if (ev.bad_labels) std::printf("labels above 9: %d\n", ev.bad_labels);
    std::printf("confusion matrix (rows: true label, columns: recognised digit):\n      ");
    for (int32_t p = 0; p < digit_count; p++) std::printf("%6d", p);
    std::printf("\n");
    for (int32_t t = 0; t < digit_count; t++) {
        std::printf("%6d", t);
        for (int32_t p = 0; p < digit_count; p++) std::printf("%6d", ev.confusion[t][p]);
        std::printf("\n");
    }
}

// Trains, evaluates and prints; returns the exit status.
int run(int argc, char** argv) {
    Options o;
    if (int status = parse_options(argc, argv, o)) return status;
    if (o.data_dir.empty()) {
        const DataFolders folders = find_data_folder();
        if (folders.found.empty()) {
            std::fprintf(stderr, "tavelin-train: %s\n", no_training_data_message(folders).c_str());
            return 1;
        }
        o.data_dir = folders.found;
    }
    if (o.test_dir.empty()) o.test_dir = o.data_dir;

    const std::string train_images = data_file_path(o.data_dir, training_images_name);
    const std::string train_labels = data_file_path(o.data_dir, training_labels_name);
    const std::string test_images = data_file_path(o.test_dir, test_images_name);
    const std::string test_labels = data_file_path(o.test_dir, test_labels_name);
    // Everything that can be wrong with the arguments is found before the
    // training, which takes minutes on the full set.
    WholeFile predictions;
    if (!o.predictions.empty()) {
        std::string why;
        if (int status = prepare_whole_file(o.predictions, predictions, why)) {
            std::fprintf(stderr, "tavelin-train: %s: cannot write predictions there: %s\n", o.predictions.c_str(),
                         why.c_str());
            return status;
        }
        for (const std::string& input : {train_images, train_labels, test_images, test_labels}) {
            std::error_code error;
            if (std::filesystem::equivalent(predictions.target, input, error)) {
                std::fprintf(stderr,
                             "tavelin-train: --predictions %s is the input file %s: it would be overwritten\n",
                             o.predictions.c_str(), input.c_str());
                return 2;
            }
        }
    }
    // No test set at all is a run without evaluation, unless one was asked
    // for by --test or --predictions: then it is unusable data, found now.
    const bool no_test_set = !exists(test_images) && !exists(test_labels);
    if (no_test_set && !o.test_dir_given && !o.predictions.empty()) {
        std::fprintf(stderr, "tavelin-train: --predictions %s: no test set in %s to predict\n",
                     o.predictions.c_str(), o.test_dir.c_str());
        return 1;
    }
    const bool evaluate = o.test_dir_given || !no_test_set;
    LabeledImages test;
    if (evaluate) {
        const bool readable = read_labeled_images(test_images.c_str(), test_labels.c_str(), "test", test);
        // An accuracy over no images would read as a result; it is unusable data.
        if (readable && test.count == 0)
            std::fprintf(stderr, "tavelin-train: no test images with labels in %s\n", o.test_dir.c_str());
        if (!readable || test.count == 0) return 1;
    }

    std::vector<Sample> samples = load_samples(train_images.c_str(), train_labels.c_str());
    if (samples.empty()) {
        std::fprintf(stderr, "tavelin-train: no training samples in %s\n", o.data_dir.c_str());
        return 1;
    }
    std::fprintf(stderr, "training on %zu samples from %s\n", samples.size(), train_images.c_str());

    Network network;
    build_network(network, samples[0].image.shape());
    const auto start = std::chrono::steady_clock::now();
    const int32_t steps = train_on_samples(network, samples, o.min_steps);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    samples.clear();
    std::printf("training: %d steps in %.3f s, %.0f steps per second\n", steps, seconds,
                seconds > 0 ? steps / seconds : 0.0);

    if (!evaluate) {
        std::printf("no test set in %s: skipping the evaluation\n", o.test_dir.c_str());
        return 0;
    }
    Evaluation ev;
    std::string rows = "index,label,predicted,confidence\n";
    for (int32_t k = 0; k < test.count; k++) {
        const int32_t label = test.label(k);
        const int32_t digit =
            o.normalise ? recognize_drawing(network, test.image(k), false) : recognize(network, test.image(k));
        if (digit < 0) ev.no_digit++;
        if (label >= digit_count) ev.bad_labels++;
        else if (digit >= 0) ev.confusion[label][digit]++;
        if (digit == label) ev.correct++;
        char row[64];
        std::snprintf(row, sizeof row, "%d,%d,%d,%.6f\n", k, label, digit,
                      digit < 0 ? 0.0 : double(confidences[digit]));
        rows += row;
    }
    std::printf("test: %d images from %s\n", test.count, test_images.c_str());
    print_evaluation(ev, test.count);
    // Results lost on the way to standard output fail the run (main says
    // so), and then the predictions are not put in place either.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return 1;
    if (o.predictions.empty()) return 0;
    const std::string why = write_whole_file(predictions, rows);
    if (why.empty()) return 0;
    std::fprintf(stderr, "tavelin-train: %s: writing predictions failed: %s\n", predictions.target.c_str(), why.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed descriptor would be taken by the next file opened (the
    // predictions would get the messages): closed input and error streams
    // read and write nothing, and a closed output, where the results go,
    // is refused before anything is opened.
    const ClosedStreams closed = open_standard_streams();
    struct stat st;
    if (closed.output || fstat(fileno(stdout), &st) != 0) {
        std::fprintf(stderr, "tavelin-train: standard output is closed: nowhere to write the results\n");
        return 1;
    }
#ifdef _WIN32
    // The same bytes as everywhere else: lines end in LF, not CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const int status = run(argc, argv);
    if (!standard_output_ok()) return status != 0 ? status : 1;
    return status;
}
