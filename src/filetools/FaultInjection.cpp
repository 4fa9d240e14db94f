#include "filetools/FaultInjection.h"

#include "filetools/Failure.h"

namespace tollavar::faults {

namespace {
Plan g_plan;
long g_count = 0;
} // namespace

void arm(const Plan& plan)
{
    g_plan = plan;
    g_count = 0;
}

void disarm()
{
    g_plan = Plan{};
    g_count = 0;
}

long operationsSinceArmed()
{
    return g_count;
}

int injectedError(std::string_view operation)
{
    if (!g_plan.operation.empty() && g_plan.operation != operation)
        return 0;
    ++g_count;
    if (g_plan.failAt <= 0)
        return 0;
    if (g_count == g_plan.failAt || (g_plan.persistent && g_count > g_plan.failAt))
        return g_plan.error;
    return 0;
}

void checkpoint(std::string_view operation, std::string_view path)
{
    if (const int error = injectedError(operation))
        throw systemFailure(error, operation, path);
}

} // namespace tollavar::faults
