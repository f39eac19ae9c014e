// The public handle on an XML document (the cookie files are such documents): it stands on one
// element of a TreeNode tree that several handles may share, and the document lives as long as
// any handle stands in it. Each handle serialises its own calls; two handles on one document do
// not exclude each other. Texts are UTF-8. Handles returned by the walking calls belong to the
// caller.
#pragma once

#include <memory>
#include <mutex>

#include "base/cls_base.h"
#include "base/string_buffer.h"
#include "base/tree_node.h"

namespace quillon {

class ClsXml : public ClsBase {
 public:
  // LoadXml takes a text as a file path when it holds no "<", is shorter than this after
  // trimming, and ends with ".xml".
  static constexpr uint32_t kMaxPathLikeLength = 100;

  // A handle on a new document whose root is tagged "unnamed".
  ClsXml();
  // Drops this handle's counts; the last handle of a document destroys it.
  ~ClsXml() override;

  // Parses the text (no charset conversion) and stands on the new root, leaving the old tree
  // to its other handles. trimContent drops the white space around element text. A path-like
  // text is loaded as a file instead. False (old tree kept) when no element was found.
  bool LoadXml(const char* text, bool trimContent);
  // Reads the whole file, converts it to UTF-8 from its byte-order mark or declared encoding,
  // and parses it; a declared "utf-16", "ucs-2" or "unicode" becomes "utf-8". False (old tree
  // kept) when the file cannot be read or holds no element.
  bool LoadXmlFile(const char* path, bool trimContent);
  // Writes the current element (the whole document from the root) in the declared encoding,
  // declaring "utf-8" when none is declared. The file is replaced atomically.
  bool SaveXml(const char* path);
  // The current element's subtree as XML text (with the prologue from the root); out is
  // emptied first.
  bool ToXmlText(StringBuffer& out);

  // The tag is filtered: only ASCII letters and digits, "!-.:_" and bytes of 0x80 and above stay.
  bool PutTag(const char* tag);
  bool TagText(StringBuffer& out);
  // A null content empties the existing content.
  bool PutContent(const char* content);
  bool ContentText(StringBuffer& out);

  // Adds an attribute (duplicates too): the name trimmed and filtered like a tag, with "A" in
  // front when it starts with a digit, "-" or "."; a missing value is empty. False when the
  // name is left empty.
  bool AppendAttr(const char* name, const char* value);
  // Removes every attribute of that name, then adds it at the end.
  bool ReplaceAttr(const char* name, const char* value);
  bool ReplaceAttr(const char* name, int value);
  // The value of the first attribute of that name (trimmed); false (out empty) when absent.
  bool AttrText(const char* name, StringBuffer& out);
  // The first value of that name as a number; 0 when absent.
  int AttrNumber(const char* name);
  // Whether some attribute of that name has exactly that value.
  bool AttrEquals(const char* name, const char* value);

  // Appends a last child: the tag trimmed, spaces made "_", then filtered. Returns a handle on
  // it (null when nothing was appended).
  std::unique_ptr<ClsXml> AppendChildNode(const char* tag, const char* content);
  // The same without a handle.
  bool AppendChild(const char* tag, const char* content);
  // New handles on a child, or null when there is none.
  std::unique_ptr<ClsXml> FirstChildHandle();
  // The first child whose tag equals the trimmed text exactly.
  std::unique_ptr<ClsXml> ChildByTag(const char* tag);
  // The first child with that tag having an attribute of that name whose value matches the
  // pattern, in which "*" stands for any run of characters (case-sensitive).
  std::unique_ptr<ClsXml> ChildByTagAndAttr(const char* tag, const char* name,
                                            const char* pattern);

  // Moves this handle; false (no move) when there is no such element.
  bool MoveToParent();
  bool MoveToFirstChild();
  bool MoveToNextSibling();

 private:
  struct OnNode {};
  ClsXml(OnNode, TreeNode* node);

  // The current node when it and its document are alive; null otherwise.
  TreeNode* validNode() const;
  // Moves the handle's counts from the old node to the new one (either may be null); the
  // last handle leaving a document destroys it.
  void standOn(TreeNode* node);
  std::unique_ptr<ClsXml> handleOn(TreeNode* node);
  // Stands on the node's parent, first child or next sibling; false (no move) when it has none.
  bool moveAlong(TreeNode* (TreeNode::*neighbour)() const);
  bool loadFile(const char* path, bool trimContent);
  // Stands on the document's root; the handle's old tree is left to its other handles.
  void adopt(std::unique_ptr<TreeInfo> document);
  TreeNode* appendChild(TreeNode& parent, const char* tag, const char* content);

  std::mutex mutex_;
  TreeNode* node_ = nullptr;
};

}  // namespace quillon
