#pragma once

#include "CaptureModel/ResolvedAddress.h"

#include <QMetaType>

#include <memory>
#include <vector>

namespace Profiler {

class FoldedCallGraph;
class MergedCallGraph;

/// A call path: functions from the top-level function down, the root never included.
using ResolvedCallstack = std::vector<ResolvedAddress>;

} // namespace Profiler

Q_DECLARE_METATYPE(Profiler::ResolvedCallstack)
Q_DECLARE_METATYPE(std::shared_ptr<Profiler::FoldedCallGraph>)
Q_DECLARE_METATYPE(std::shared_ptr<Profiler::MergedCallGraph>)
