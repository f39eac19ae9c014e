// The in-memory XML tree: TreeNode elements that share one TreeInfo (the document). Walks,
// re-pointing and destruction are loops over the parent and sibling links, never recursion, so
// the depth of a tree costs no stack. Not locked: the ClsXml handles serialise their own calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "base/ext_ptr_array.h"
#include "base/quillon_object.h"
#include "base/string_buffer.h"

namespace quillon {

class TreeInfo;

// The attribute set of one element: (name, value) pairs in order, kept as one list of lengths
// (name, value, name, value, ...) and one text holding every name and value back to back.
// Names compare exactly. Adding never looks for duplicates.
class XmlAttributes {
 public:
  struct Attribute {
    std::string_view name;
    std::string_view value;
  };

  int count() const { return lengths_.count() / 2; }
  // Adds the pair as given; false (set unchanged) when memory runs out.
  bool add(std::string_view name, std::string_view value);
  // The value of the first attribute with exactly this name; false when there is none.
  bool find(std::string_view name, std::string_view& value) const;
  // Removes every attribute with exactly this name.
  void removeAll(std::string_view name);
  // Calls visit(Attribute) for each pair in order until it returns false.
  template <class Visit>
  void forEach(Visit visit) const {
    std::string_view texts = texts_.view();
    uint32_t offset = 0;
    for (int i = 0; i + 1 < lengths_.count(); i += 2) {
      uint32_t nameLength = static_cast<uint32_t>(lengths_.get(i));
      uint32_t valueLength = static_cast<uint32_t>(lengths_.get(i + 1));
      Attribute attribute{texts.substr(offset, nameLength),
                          texts.substr(offset + nameLength, valueLength)};
      offset += nameLength + valueLength;
      if (!visit(attribute)) return;
    }
  }

 private:
  ExtIntArray lengths_;
  StringBuffer texts_{StringBuffer::Increment{1}};
};

class TreeNode : public QuillonObject {
 public:
  static constexpr uint8_t kAlive = 206;
  static constexpr uint8_t kDestroyed = 49;
  // A children list with no better guess starts with room for this many.
  static constexpr uint32_t kDefaultChildRoom = 5;

  // A node of no document, without parent, tagged with the filtered tag. Null when memory runs
  // out.
  static TreeNode* Create(std::string_view tag);
  TreeNode(const TreeNode&) = delete;
  TreeNode& operator=(const TreeNode&) = delete;
  // Destroys the whole subtree, deepest nodes first, without recursion. A parent still holding
  // the node is not told.
  ~TreeNode() override;

  // False once the node is destroyed (or for memory that never held a node).
  bool isValid() const { return mark_ == kAlive; }

  TreeInfo* document() const { return document_; }
  void setDocument(TreeInfo* document) { document_ = document; }

  const StringBuffer& tag() const { return tag_; }
  // Stores the text filtered: only ASCII letters and digits, "!", "-", ".", ":", "_" and bytes
  // of 0x80 and above are kept. False when memory runs out.
  bool setTag(std::string_view text);

  // The content; empty when none was ever set.
  std::string_view content() const;
  bool hasContent() const { return !content_.isEmpty(); }
  bool setContent(std::string_view text);
  bool appendContent(std::string_view text);
  StringBuffer& contentBuffer() { return content_; }
  bool isCdata() const { return cdata_ != 0; }
  void setCdata(bool cdata) { cdata_ = cdata ? 1 : 0; }

  // Null until the first attribute is added.
  XmlAttributes* attributes() const { return attributes_.get(); }
  // How an attribute name is stored: "A" put in front when its first character is a digit, "-"
  // or ".", then filtered like a tag. False when nothing is left (or memory runs out).
  static bool StoredAttributeName(std::string_view name, StringBuffer& out);
  // The adding operation: the pair added at the end under the stored form of the name; a name
  // left empty is not added (false).
  bool addAttribute(std::string_view name, std::string_view value);
  // Every attribute of the name's stored form removed, then the pair added at the end.
  bool replaceAttribute(std::string_view name, std::string_view value);
  // The first value of that exact name; false when absent.
  bool attribute(std::string_view name, std::string_view& value) const;
  void removeAttributes(std::string_view name);

  TreeNode* parent() const { return parent_; }
  TreeNode* nextSibling() const { return next_; }
  TreeNode* previousSibling() const { return previous_; }
  TreeNode* firstChild() const { return childCount_ ? children_[0] : nullptr; }
  uint32_t childCount() const { return childCount_; }
  uint32_t childRoom() const { return childCapacity_; }

  // Appends child as the last child. A child that has a parent is left where it is (false).
  // The child's subtree takes this node's document; a document the child was the root of is
  // destroyed (without the child). False when memory runs out.
  bool appendChild(TreeNode* child);

  // The next node of the subtree under top in document order (parents before children), or
  // null after the last one.
  static TreeNode* NextInTree(const TreeNode* node, const TreeNode* top);

  // The ClsXml handles standing on this node.
  int handleCount() const { return handleCount_; }
  void addHandle() { ++handleCount_; }
  void dropHandle() { --handleCount_; }

 private:
  TreeNode();
  bool growChildren();

  TreeInfo* document_ = nullptr;
  StringBuffer tag_{StringBuffer::Increment{1}};
  std::unique_ptr<XmlAttributes> attributes_;
  StringBuffer content_{StringBuffer::Increment{1}};  // allocates on first use
  int handleCount_ = 0;
  uint8_t cdata_ = 0;
  uint8_t mark_ = kAlive;
  TreeNode** children_ = nullptr;
  uint32_t childCount_ = 0;
  uint32_t childCapacity_ = 0;
  uint32_t childIncrement_ = 0;
  TreeNode* parent_ = nullptr;
  TreeNode* next_ = nullptr;
  TreeNode* previous_ = nullptr;
};

// The document: the root, the XML declaration, the stylesheet instructions and the rest of the
// prologue, with the count of handles into it. Owns every node it holds.
class TreeInfo : public QuillonObject {
 public:
  static constexpr uint8_t kAlive = 206;
  static constexpr uint8_t kDestroyed = 49;

  // A document holding root (null: none yet) and re-pointing root's subtree to it. Null when
  // memory runs out (root is then left as it was).
  static TreeInfo* Create(TreeNode* root);

  TreeInfo(const TreeInfo&) = delete;
  TreeInfo& operator=(const TreeInfo&) = delete;
  // Destroys the root's tree, the declaration, the stylesheet nodes and the prologue.
  ~TreeInfo() override;

  bool isValid() const { return mark_ == kAlive; }
  uint32_t documentSerial() const { return documentSerial_; }

  TreeNode* root() const { return root_; }
  // Gives up the root without destroying it (its nodes keep pointing here until re-pointed).
  TreeNode* releaseRoot();

  TreeNode* declaration() const { return declaration_; }
  // Takes the node (may be null); an earlier declaration is destroyed.
  void setDeclaration(TreeNode* declaration);
  // The stylesheet instruction nodes, owned here.
  OwningPtrArray& stylesheets() { return stylesheets_; }
  // The DOCTYPE and other prologue instructions, verbatim, each followed by LF.
  StringBuffer& prologue() { return prologue_; }

  int handleCount() const { return handleCount_; }
  void addHandle() { ++handleCount_; }
  // True when that was the last handle.
  bool dropHandle() { return --handleCount_ <= 0; }

 private:
  TreeInfo() = default;

  uint8_t mark_ = kAlive;
  TreeNode* root_ = nullptr;
  TreeNode* declaration_ = nullptr;
  OwningPtrArray stylesheets_;
  StringBuffer prologue_{StringBuffer::Increment{1}};
  uint32_t documentSerial_ = 0;
  int handleCount_ = 0;
};

}  // namespace quillon
