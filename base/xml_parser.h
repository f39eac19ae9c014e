// The forgiving XML parser: it turns text into a TreeNode tree and never rejects a document. It
// closes unclosed elements itself, ignores the names in closing tags, keeps the DOCTYPE and other
// instructions as prologue text, and decodes only the five predefined entities. Of the text's
// flaws it logs only an unclosed comment, an unfinished DTD and a closing tag cut short. One pass
// with a cursor; the tree is built without recursion, so nesting depth costs no stack.
#pragma once

#include <memory>
#include <string_view>

#include "base/log_base.h"
#include "base/tree_node.h"

namespace quillon {

// Closing tags cut short are logged this many times per parse; a flood of them is not.
inline constexpr int kMaxLoggedClosingTagErrors = 10;
// Elements (and stylesheet instructions) one text may create. An element costs about 250 bytes
// in memory, so a flood of tiny tags ("<a>" again and again) would cost 80 times its text;
// this caps it near 250 MB. Cookie files hold a few thousand.
inline constexpr uint32_t kMaxXmlElements = 1000000;

// Parses the text as it is (no charset conversion). With trimContent, white space around the
// text of an element is dropped; without it, it is kept. Returns the document whose root is the
// last top-level element completed (or, when none was completed, the outermost one left open),
// holding the declaration, stylesheet instructions and prologue. Null (logged) when the text
// holds no element or more than kMaxXmlElements, or memory runs out.
std::unique_ptr<TreeInfo> ParseXmlDocument(std::string_view text, LogBase& log, bool trimContent);

// Appends text with "&lt;", "&gt;", "&quot;", "&apos;" and "&amp;" decoded, each once; other
// references stay as written. False when memory runs out.
bool AppendXmlEntityDecoded(std::string_view text, StringBuffer& out);

}  // namespace quillon
