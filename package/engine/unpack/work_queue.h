// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

// Jobs handed from one thread to a few workers, taken in order, with at
// most `depth` waiting. The handing thread runs `idle` (reporting progress)
// every so often while it waits for room or for the workers to finish.
template <typename Job>
class Work_Queue
{
public:
    Work_Queue(size_t depth, std::function<void()> idle) : depth(depth), idle(std::move(idle)) {}
    ~Work_Queue() { finish(); }

    // Fewer threads under a low limit are only slower; none at all throws.
    void start(int count, std::function<void(Job &)> run)
    {
        for (int i = 0; i < count; ++i) {
            {
                const std::lock_guard<std::mutex> lock(mutex);
                ++running;
            }
            try {
                workers.emplace_back([this, run] { work(run); });
            } catch (const std::system_error &) {
                const std::lock_guard<std::mutex> lock(mutex);
                --running;
                if (workers.empty())
                    throw;
                break;
            }
        }
    }

    void push(Job job)
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (jobs.size() >= depth)
            wait_idle(lock);
        jobs.push_back(std::move(job));
        job_ready.notify_one();
    }

    // No more jobs: returns once the workers have done them all.
    void finish()
    {
        std::unique_lock<std::mutex> lock(mutex);
        closed = true;
        job_ready.notify_all();
        while (running > 0)
            wait_idle(lock);
        lock.unlock();
        workers.clear(); // joins
    }

private:
    static constexpr std::chrono::milliseconds idle_interval{50};

    size_t depth;
    std::function<void()> idle;
    // Guarded by mutex: the jobs, whether more come, how many workers run.
    // Workers wait on job_ready; the handing thread waits on room, signalled
    // when a full queue gets a place or a worker ends.
    std::mutex mutex;
    std::condition_variable job_ready;
    std::condition_variable room;
    std::deque<Job> jobs;
    bool closed = false;
    int running = 0;
    std::vector<std::jthread> workers;

    void wait_idle(std::unique_lock<std::mutex> &lock)
    {
        room.wait_for(lock, idle_interval);
        lock.unlock();
        idle();
        lock.lock();
    }

    void work(const std::function<void(Job &)> &run)
    {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                job_ready.wait(lock, [&] { return !jobs.empty() || closed; });
                if (jobs.empty()) {
                    --running;
                    room.notify_one();
                    return;
                }
                if (jobs.size() == depth)
                    room.notify_one();
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            run(job);
        }
    }
};
