#include "measure/local_daemon.h"

#include <new>

#include "check/text.h"

namespace brevun::measure {

DaemonResult MeasureDaemon(const DaemonRequest& request) {
  DaemonResult result;
  result.asked = request.kind;
  daemon::Options options;
  options.endpoint = request.endpoint;
  options.milliseconds = request.budgetMillis < 1 ? 1 : request.budgetMillis;
  if (request.verbose) {
    options.trace = [verbose = request.verbose](const std::u16string& line) {
      verbose(ToUtf8(line));
    };
  }
  const daemon::KernelSeam kernel = request.kernel ? *request.kernel : daemon::SystemKernel();
  try {
    if (!request.kind) {
      result.report = daemon::ReadAuto(options, kernel);
    } else if (*request.kind == daemon::Kind::kChrony) {
      result.report = daemon::ReadChrony(options);
    } else if (*request.kind == daemon::Kind::kNtp) {
      result.report = daemon::ReadNtp(options);
    } else {
      result.report = daemon::ReadKernel(kernel);
    }
  } catch (const QueryFailure& f) {
    result.failure = f;
  } catch (const std::bad_alloc&) {
    result.failure = QueryFailure(QueryFailure::Kind::kNetwork, u"Out of memory");
  }
  if (result.report && request.verbose) {
    for (const std::u16string& note : result.report->notes) request.verbose(ToUtf8(note));
  }
  return result;
}

}  // namespace brevun::measure
