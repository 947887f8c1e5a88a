// Object tree model: the file item, the four groups and the recovered objects,
// each with a text, 32-bit data, an expansion state and a linked check box.
//
// Linked check boxes: an item without children is checked when its own state
// is set; an item with children counts as checked when every enabled child
// does. Checking an item applies the state to all its descendants. The model
// is shared between the worker that fills it and the window that shows it, so
// every call locks; listeners hear of each change after the lock is released.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace veltrane {

using TreeItemId = uint32_t;
// The invisible root: parent of the top-level items, and "no item".
constexpr TreeItemId kTreeRoot = 0;

enum class TreePosition { First, Last };

struct TreeChange {
  enum class Kind { Cleared, Added, DataSet, Expanded, ChecksChanged };
  static TreeChange Of(Kind kind, TreeItemId item = kTreeRoot) {
    TreeChange c;
    c.kind = kind;
    c.item = item;
    return c;
  }
  Kind kind = Kind::Cleared;
  TreeItemId item = kTreeRoot;
  TreeItemId parent = kTreeRoot;
  TreePosition position = TreePosition::Last;
  std::string text;
  int32_t data = 0;
};

class TreeListener {
 public:
  virtual ~TreeListener() = default;
  virtual void TreeChanged(const TreeChange& change) = 0;
};

class ObjectTree {
 public:
  ObjectTree();
  ObjectTree(const ObjectTree&) = delete;
  ObjectTree& operator=(const ObjectTree&) = delete;

  void SetListener(TreeListener* listener);

  void Clear();
  // Inserts a new unchecked, enabled item as the first or last child of parent.
  // Returns kTreeRoot when parent does not exist.
  TreeItemId AddItem(const std::string& text, TreeItemId parent, TreePosition position);
  void SetData(TreeItemId item, int32_t data);
  void Expand(TreeItemId item);

  bool IsValid(TreeItemId item) const;
  std::string Text(TreeItemId item) const;
  int32_t Data(TreeItemId item) const;
  bool IsExpanded(TreeItemId item) const;
  TreeItemId Parent(TreeItemId item) const;
  TreeItemId FirstChild(TreeItemId item) const;
  TreeItemId NextSibling(TreeItemId item) const;
  TreeItemId TopItem() const { return FirstChild(kTreeRoot); }
  std::vector<TreeItemId> Children(TreeItemId item) const;
  size_t ItemCount() const;

  // Linked check state of an item (see the file comment).
  bool IsChecked(TreeItemId item) const;
  // Sets the item's state and applies it to every enabled descendant.
  void SetChecked(TreeItemId item, bool checked);
  // A click on the check box: flips an enabled item's linked state.
  void ToggleChecked(TreeItemId item);
  void SetEnabled(TreeItemId item, bool enabled);
  bool IsEnabled(TreeItemId item) const;
  size_t ChildCount(TreeItemId item) const;
  size_t CheckedChildCount(TreeItemId item) const;

 private:
  struct Item {
    std::string text;
    TreeItemId parent = kTreeRoot;
    std::vector<TreeItemId> children;
    int32_t data = 0;
    bool expanded = false;
    bool checked = false;  // own state
    bool enabled = true;
    size_t checkedChildren = 0;  // children that count as checked
    size_t enabledChildren = 0;
    bool counted = false;  // counted in the parent's checkedChildren
  };

  bool CheckedLocked(TreeItemId item) const;
  void ApplyLocked(TreeItemId item, bool checked);
  // Brings the counts of item's ancestors up to date after item changed
  // (its state, its enabled flag, or its insertion): one step per level.
  void RecountAncestorsLocked(TreeItemId item);
  void Notify(const TreeChange& change);

  mutable std::mutex mutex_;
  std::vector<Item> items_;  // items_[0] is the invisible root
  TreeListener* listener_ = nullptr;
};

}  // namespace veltrane
