// The chunk transform against memcpy, and the chunk loop over a 1 GiB file.

#include "kvx_cipher.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

void fill(std::vector<unsigned char> &data)
{
    unsigned x = 12345;
    for (unsigned char &c : data)
        c = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 24);
}

void BM_memcpy(benchmark::State &state)
{
    std::vector<unsigned char> in(size_t(state.range(0))), out(in.size());
    fill(in);
    for (auto _ : state) {
        std::memcpy(out.data(), in.data(), in.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(qint64(state.iterations()) * state.range(0));
}
BENCHMARK(BM_memcpy)->Arg(kvx_chunk_size)->Arg(kvx_chunk_size * 256);

void BM_encrypt_chunks(benchmark::State &state)
{
    std::vector<unsigned char> data(size_t(state.range(0)));
    fill(data);
    for (auto _ : state) {
        transform_chunks(data.data(), qint64(data.size()), Cipher_Direction::Encrypt);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(qint64(state.iterations()) * state.range(0));
}
BENCHMARK(BM_encrypt_chunks)->Arg(kvx_chunk_size)->Arg(kvx_chunk_size * 256);

void BM_decrypt_chunks(benchmark::State &state)
{
    std::vector<unsigned char> data(size_t(state.range(0)));
    fill(data);
    for (auto _ : state) {
        transform_chunks(data.data(), qint64(data.size()), Cipher_Direction::Decrypt);
        benchmark::DoNotOptimize(data.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(qint64(state.iterations()) * state.range(0));
}
BENCHMARK(BM_decrypt_chunks)->Arg(kvx_chunk_size)->Arg(kvx_chunk_size * 256);

// File to file, as a run does it; the source sits in the page cache after
// the first iteration, like an archive that was just written.
void BM_chunk_loop_file(benchmark::State &state)
{
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/corvanta-bench-XXXXXX"));
    const QString in_path = dir.filePath(QStringLiteral("in.bin"));
    const QString out_path = dir.filePath(QStringLiteral("out.bin"));
    {
        QFile in(in_path);
        if (!in.open(QIODevice::WriteOnly)) {
            state.SkipWithError("cannot create the input file");
            return;
        }
        std::vector<unsigned char> block(8 << 20);
        fill(block);
        for (qint64 left = state.range(0); left > 0; left -= qint64(block.size()))
            in.write(reinterpret_cast<const char *>(block.data()), qMin<qint64>(left, qint64(block.size())));
        // Written back now, so that the disk's own pace does not throttle the timed part.
        in.flush();
        ::fdatasync(in.handle());
    }
    for (auto _ : state) {
        QFile in(in_path), out(out_path);
        if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered)
            || !out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            state.SkipWithError("cannot open the files");
            return;
        }
        QString error;
        if (!run_chunk_loop(in, out, Cipher_Direction::Encrypt, nullptr, &error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        state.PauseTiming();
        out.close();
        QFile::remove(out_path); // drops its dirty pages before they pile up
        state.ResumeTiming();
    }
    state.SetBytesProcessed(qint64(state.iterations()) * state.range(0));
}
BENCHMARK(BM_chunk_loop_file)->Arg(qint64(1) << 30)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
