// A small program for trying the recorder: named threads that each do one recognisable kind of
// work for a few seconds, so that a capture of it shows computation, file I/O, sleeping and lock
// contention side by side.
//
//   demo [--seconds N]     (default 3)

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<bool> gStop{false};
std::atomic<uint64_t> gSink{0}; // keeps results alive so the optimiser cannot drop the work

void NameThisThread(const char* name)
{
    pthread_setname_np(pthread_self(), name); // at most 15 characters
}

// --- computation: plain recursion and a recursive tree walk ---------------------------------

__attribute__((noinline)) uint64_t Fibonacci(unsigned n)
{
    return n < 2 ? n : Fibonacci(n - 1) + Fibonacci(n - 2);
}

struct TreeNode {
    uint64_t value = 0;
    std::vector<TreeNode> children;
};

__attribute__((noinline)) void BuildTree(TreeNode& node, unsigned depth, uint64_t seed)
{
    node.value = seed * 2654435761u;
    if (depth == 0)
        return;
    node.children.resize(3);
    for (unsigned i = 0; i < 3; ++i)
        BuildTree(node.children[i], depth - 1, seed * 3 + i);
}

__attribute__((noinline)) uint64_t WalkTree(const TreeNode& node)
{
    uint64_t sum = node.value ^ (node.value >> 7);
    for (const TreeNode& child : node.children)
        sum += WalkTree(child);
    return sum;
}

void ComputeWorker()
{
    NameThisThread("compute");
    TreeNode root;
    BuildTree(root, 8, 1);
    while (!gStop.load(std::memory_order_relaxed)) {
        gSink += Fibonacci(27);
        gSink += WalkTree(root);
    }
}

// --- file I/O: write, flush to disk, read back ----------------------------------------------

__attribute__((noinline)) void WriteChunk(int fd, const std::vector<char>& buffer)
{
    for (std::size_t done = 0; done < buffer.size();) {
        ssize_t n = write(fd, buffer.data() + done, buffer.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

__attribute__((noinline)) void FlushToDisk(int fd)
{
    fsync(fd);
}

__attribute__((noinline)) uint64_t ReadBack(int fd, std::vector<char>& buffer)
{
    uint64_t sum = 0;
    lseek(fd, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0)
        sum += static_cast<unsigned char>(buffer[static_cast<std::size_t>(n) / 2]);
    return sum;
}

void FileWorker()
{
    NameThisThread("fileio");
    char path[] = "/tmp/qx-demo-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        std::perror("demo: mkstemp");
        return;
    }
    unlink(path);
    std::vector<char> buffer(1 << 20);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<char>(i * 31);
    while (!gStop.load(std::memory_order_relaxed)) {
        ftruncate(fd, 0);
        lseek(fd, 0, SEEK_SET);
        for (int i = 0; i < 4; ++i)
            WriteChunk(fd, buffer);
        FlushToDisk(fd);
        gSink += ReadBack(fd, buffer);
    }
    close(fd);
}

// --- sleeping: short naps with a little work in between -------------------------------------

__attribute__((noinline)) void Nap(long milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); // nanosleep underneath
}

void SleepWorker()
{
    NameThisThread("sleeper");
    while (!gStop.load(std::memory_order_relaxed)) {
        Nap(20);
        gSink += Fibonacci(15);
    }
}

// --- lock contention: several threads take turns on one mutex -------------------------------

std::mutex gSharedLock;
uint64_t gSharedCounter = 0;

__attribute__((noinline)) void UpdateSharedState()
{
    std::lock_guard<std::mutex> guard(gSharedLock);
    // Hold the lock long enough that the others queue up behind it.
    for (int i = 0; i < 20000; ++i)
        gSharedCounter = gSharedCounter * 6364136223846793005ull + 1442695040888963407ull;
}

void LockWorker(int index)
{
    std::string name = "locker-" + std::to_string(index);
    NameThisThread(name.c_str());
    while (!gStop.load(std::memory_order_relaxed))
        UpdateSharedState();
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = 3.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: demo [--seconds N]\n");
            return 2;
        }
    }
    if (!(seconds > 0.0 && seconds <= 3600.0)) {
        std::fprintf(stderr, "demo: --seconds must be between 0 and 3600\n");
        return 2;
    }

    std::vector<std::thread> threads;
    threads.emplace_back(ComputeWorker);
    threads.emplace_back(FileWorker);
    threads.emplace_back(SleepWorker);
    for (int i = 1; i <= 3; ++i)
        threads.emplace_back(LockWorker, i);

    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    gStop = true;
    for (std::thread& thread : threads)
        thread.join();
    std::printf("demo: done (%llu)\n", static_cast<unsigned long long>(gSink.load() + gSharedCounter));
    return 0;
}
