// SPDX-License-Identifier: GPL-3.0-or-later
// The chunk transform against memcpy, and 1 GiB enciphered into a file.

#include "container/archive_output.h"
#include "container/kvx_cipher.h"
#include "platform/system.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
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

// 1 GiB enciphered into a file in libzip's 8 KiB pieces, as an encryption
// writes its container.
void BM_enciphered_output_file(benchmark::State &state)
{
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/corvanta-bench-XXXXXX"));
    const QString out_path = dir.filePath(QStringLiteral("out.bin"));
    std::vector<unsigned char> block(8 << 20);
    fill(block);
    constexpr qint64 piece = 8192;
    for (auto _ : state) {
        os::File out;
        if (out.create_new(QFile::encodeName(out_path)) != 0) {
            state.SkipWithError("cannot open the file");
            return;
        }
        Archive_Output output(out, true);
        for (qint64 at = 0; at < state.range(0); at += piece) {
            const char *data = reinterpret_cast<const char *>(block.data()) + at % qint64(block.size());
            if (!output.write(at, data, piece)) {
                state.SkipWithError(qPrintable(output.reason()));
                return;
            }
        }
        if (!output.finish()) {
            state.SkipWithError(qPrintable(output.reason()));
            return;
        }
        state.PauseTiming();
        out.close();
        QFile::remove(out_path); // drops its dirty pages before they pile up
        state.ResumeTiming();
    }
    state.SetBytesProcessed(qint64(state.iterations()) * state.range(0));
}
BENCHMARK(BM_enciphered_output_file)->Arg(qint64(1) << 30)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
