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

// The predictions file is written under a new name beside it and renamed
// over it only when the whole run has succeeded, so a failed run leaves
// an earlier file as it was; whatever is left unfinished is removed.
class PredictionsFile {
public:
    ~PredictionsFile() {
        if (file_) std::fclose(file_);
        if (!partial_.empty()) std::remove(partial_.c_str());
    }
    FILE* get() const { return file_; }

    // Refuses (status 2) a name that is one of the inputs, however named,
    // or that names something other than a plain file; else creates the
    // new file (status 1 when it cannot). Returns 0 when it is open.
    int open(const std::string& path, const std::vector<std::string>& inputs) {
        namespace fs = std::filesystem;
        std::error_code error;
        target_ = path;
        if (fs::is_symlink(path, error)) target_ = fs::canonical(path, error).string();
        const fs::file_status status = fs::status(target_, error);
        if (!error && status.type() != fs::file_type::regular) {
            const char* kind = special_file_kind(status.type());
            std::fprintf(stderr, "tavelin-train: %s: cannot write predictions there: it is %s\n", path.c_str(),
                         kind ? kind : "a special file");
            return 2;
        }
        for (const std::string& input : inputs)
            if (fs::equivalent(target_, input, error)) {
                std::fprintf(stderr,
                             "tavelin-train: --predictions %s is the input file %s: it would be overwritten\n",
                             path.c_str(), input.c_str());
                return 2;
            }
        for (int attempt = 0; attempt < 100 && !file_; attempt++) {
            partial_ = target_ + ".partial-" + std::to_string(getpid()) + (attempt ? "-" + std::to_string(attempt) : "");
#ifdef _WIN32
            const int fd = _open(partial_.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
            const int fd = ::open(partial_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
            if (fd >= 0) file_ = fdopen(fd, "wb");
            if (fd < 0 && errno == EEXIST) continue;
            if (!file_) {
                std::fprintf(stderr, "tavelin-train: %s: cannot write predictions: %s\n", path.c_str(),
                             std::strerror(errno));
                if (fd >= 0) close(fd);
                partial_.clear();
                return 1;
            }
        }
        if (!file_) {
            std::fprintf(stderr, "tavelin-train: %s: cannot write predictions: no free name beside it\n",
                         path.c_str());
            partial_.clear();
            return 1;
        }
        // A file that is replaced keeps its permissions.
        if (!error && status.type() == fs::file_type::regular) fs::permissions(partial_, status.permissions(), error);
        return 0;
    }

    // Puts the finished file in place; false (with a message) when it
    // could not be written whole or renamed.
    bool commit() {
        const bool written = std::fclose(file_) == 0;
        file_ = nullptr;
        std::error_code error;
        if (written) std::filesystem::rename(partial_, target_, error);
        if (!written || error) {
            std::fprintf(stderr, "tavelin-train: %s: writing predictions failed%s%s\n", target_.c_str(),
                         error ? ": " : "", error ? error.message().c_str() : "");
            return false;
        }
        partial_.clear();
        return true;
    }

private:
    FILE* file_ = nullptr;
    std::string target_, partial_;
};

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
    PredictionsFile predictions_file;
    if (!o.predictions.empty())
        if (int status = predictions_file.open(o.predictions, {train_images, train_labels, test_images, test_labels}))
            return status;
    FILE* const predictions = predictions_file.get();

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

    if (!o.test_dir_given && !exists(test_images) && !exists(test_labels)) {
        std::printf("no test set in %s: skipping the evaluation\n", o.test_dir.c_str());
        return 0;
    }
    LabeledImages test;
    const bool readable = read_labeled_images(test_images.c_str(), test_labels.c_str(), "test", test);
    // An accuracy over no images would read as a result; it is unusable data.
    if (readable && test.count == 0)
        std::fprintf(stderr, "tavelin-train: no test images with labels in %s\n", o.test_dir.c_str());
    if (!readable || test.count == 0) return 1;

    Evaluation ev;
    if (predictions) std::fprintf(predictions, "index,label,predicted,confidence\n");
    for (int32_t k = 0; k < test.count; k++) {
        const int32_t label = test.label(k);
        const int32_t digit =
            o.normalise ? recognize_drawing(network, test.image(k), false) : recognize(network, test.image(k));
        if (digit < 0) ev.no_digit++;
        if (label >= digit_count) ev.bad_labels++;
        else if (digit >= 0) ev.confusion[label][digit]++;
        if (digit == label) ev.correct++;
        if (predictions)
            std::fprintf(predictions, "%d,%d,%d,%.6f\n", k, label, digit,
                         digit < 0 ? 0.0 : double(confidences[digit]));
    }
    std::printf("test: %d images from %s\n", test.count, test_images.c_str());
    print_evaluation(ev, test.count);
    // Results lost on the way to standard output fail the run (main says
    // so), and then the predictions are not put in place either.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return 1;
    if (predictions && !predictions_file.commit()) return 1;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // With standard output closed, the next file opened would take its
    // place and receive the results: refuse before anything is opened.
    struct stat st;
    if (fstat(fileno(stdout), &st) != 0) {
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
