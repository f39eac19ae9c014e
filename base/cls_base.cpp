#include "base/cls_base.h"

#include "base/string_buffer.h"

namespace quillon {

void ClsBase::lastErrorText(StringBuffer& out) { ErrorReportText(log_, out); }

void ClsBase::lastErrorXml(StringBuffer& out) { log_.renderXml(out); }

void ClsBase::lastErrorHtml(StringBuffer& out) { log_.renderHtml(out); }

}  // namespace quillon
