#include "filetools/FaultInjection.h"

#ifdef TOLLAVAR_FAULT_HOOKS

#include <atomic>
#include <mutex>
#include <string>

namespace tollavar::faults {

namespace {

// A test may run a conversion on one thread while another arms the next plan; the plan's name is
// copied, since the caller's text need not outlive the arming.
struct ArmedPlan
{
    std::mutex lock;
    long failAt = 0;
    int error = 0;
    bool persistent = false;
    std::string operation;
    long count = 0;
};

ArmedPlan& armed()
{
    static ArmedPlan plan;
    return plan;
}

std::atomic<bool> g_componentWalk{false};
std::atomic<bool> g_writerCheckUnknown{false};

std::string& mountTablePath()
{
    static std::string path;
    return path;
}

} // namespace

void arm(const Plan& plan)
{
    ArmedPlan& current = armed();
    const std::lock_guard guard(current.lock);
    current.failAt = plan.failAt;
    current.error = plan.error;
    current.persistent = plan.persistent;
    current.operation.assign(plan.operation);
    current.count = 0;
}

void disarm()
{
    arm(Plan{});
}

long operationsSinceArmed()
{
    ArmedPlan& current = armed();
    const std::lock_guard guard(current.lock);
    return current.count;
}

int injectedError(std::string_view operation)
{
    ArmedPlan& current = armed();
    const std::lock_guard guard(current.lock);
    if (!current.operation.empty() && current.operation != operation)
        return 0;
    ++current.count;
    if (current.failAt <= 0)
        return 0;
    if (current.count == current.failAt || (current.persistent && current.count > current.failAt))
        return current.error;
    return 0;
}

void forceComponentWalk(bool on)
{
    g_componentWalk.store(on, std::memory_order_relaxed);
}

bool componentWalkForced()
{
    return g_componentWalk.load(std::memory_order_relaxed);
}

void forceWriterCheckUnknown(bool on)
{
    g_writerCheckUnknown.store(on, std::memory_order_relaxed);
}

bool writerCheckForcedUnknown()
{
    return g_writerCheckUnknown.load(std::memory_order_relaxed);
}

void replaceMountTable(std::string_view path)
{
    mountTablePath().assign(path);
}

std::string_view mountTableReplacement()
{
    return mountTablePath();
}

} // namespace tollavar::faults

#endif
