#include "core/object_tree.h"

#include <algorithm>

namespace veltrane {

ObjectTree::ObjectTree() { items_.emplace_back(); }

void ObjectTree::SetListener(TreeListener* listener) {
  std::lock_guard lock(mutex_);
  listener_ = listener;
}

void ObjectTree::Notify(const TreeChange& change) {
  TreeListener* listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  if (listener) listener->TreeChanged(change);
}

void ObjectTree::Clear() {
  {
    std::lock_guard lock(mutex_);
    items_.clear();
    items_.emplace_back();
  }
  Notify(TreeChange::Of(TreeChange::Kind::Cleared));
}

TreeItemId ObjectTree::AddItem(const std::string& text, TreeItemId parent, TreePosition position) {
  TreeItemId id;
  {
    std::lock_guard lock(mutex_);
    if (parent >= items_.size()) return kTreeRoot;
    id = static_cast<TreeItemId>(items_.size());
    Item item;
    item.text = text;
    item.parent = parent;
    items_.push_back(std::move(item));
    ++items_[parent].enabledChildren;
    auto& siblings = items_[parent].children;
    if (position == TreePosition::First)
      siblings.insert(siblings.begin(), id);
    else
      siblings.push_back(id);
    RecountAncestorsLocked(id);
  }
  TreeChange change = TreeChange::Of(TreeChange::Kind::Added, id);
  change.parent = parent;
  change.position = position;
  change.text = text;
  Notify(change);
  return id;
}

void ObjectTree::SetData(TreeItemId item, int32_t data) {
  {
    std::lock_guard lock(mutex_);
    if (item == kTreeRoot || item >= items_.size()) return;
    items_[item].data = data;
  }
  TreeChange change = TreeChange::Of(TreeChange::Kind::DataSet, item);
  change.data = data;
  Notify(change);
}

void ObjectTree::Expand(TreeItemId item) {
  {
    std::lock_guard lock(mutex_);
    if (item == kTreeRoot || item >= items_.size()) return;
    items_[item].expanded = true;
  }
  Notify(TreeChange::Of(TreeChange::Kind::Expanded, item));
}

bool ObjectTree::IsValid(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  return item != kTreeRoot && item < items_.size();
}

std::string ObjectTree::Text(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? items_[item].text : std::string();
}

int32_t ObjectTree::Data(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? items_[item].data : 0;
}

bool ObjectTree::IsExpanded(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() && items_[item].expanded;
}

TreeItemId ObjectTree::Parent(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? items_[item].parent : kTreeRoot;
}

TreeItemId ObjectTree::FirstChild(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  if (item >= items_.size() || items_[item].children.empty()) return kTreeRoot;
  return items_[item].children.front();
}

TreeItemId ObjectTree::NextSibling(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  if (item == kTreeRoot || item >= items_.size()) return kTreeRoot;
  const auto& siblings = items_[items_[item].parent].children;
  auto it = std::find(siblings.begin(), siblings.end(), item);
  if (it == siblings.end() || ++it == siblings.end()) return kTreeRoot;
  return *it;
}

std::vector<TreeItemId> ObjectTree::Children(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? items_[item].children : std::vector<TreeItemId>{};
}

size_t ObjectTree::ItemCount() const {
  std::lock_guard lock(mutex_);
  return items_.size() - 1;
}

bool ObjectTree::CheckedLocked(TreeItemId item) const {
  const Item& it = items_[item];
  if (it.children.empty()) return it.checked;
  return it.checkedChildren == it.enabledChildren;
}

bool ObjectTree::IsChecked(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  if (item == kTreeRoot || item >= items_.size()) return false;
  return CheckedLocked(item);
}

void ObjectTree::ApplyLocked(TreeItemId item, bool checked) {
  items_[item].checked = checked;
  size_t count = 0;
  for (TreeItemId c : items_[item].children) {
    if (items_[c].enabled) ApplyLocked(c, checked);
    items_[c].counted = items_[c].enabled && CheckedLocked(c);
    if (items_[c].counted) ++count;
  }
  items_[item].checkedChildren = count;
}

void ObjectTree::RecountAncestorsLocked(TreeItemId item) {
  for (TreeItemId c = item; c != kTreeRoot; c = items_[c].parent) {
    Item& child = items_[c];
    const bool now = child.enabled && CheckedLocked(c);
    if (now == child.counted) continue;
    child.counted = now;
    Item& parent = items_[child.parent];
    if (now)
      ++parent.checkedChildren;
    else
      --parent.checkedChildren;
  }
}

void ObjectTree::SetChecked(TreeItemId item, bool checked) {
  {
    std::lock_guard lock(mutex_);
    if (item == kTreeRoot || item >= items_.size()) return;
    ApplyLocked(item, checked);
    RecountAncestorsLocked(item);
  }
  Notify(TreeChange::Of(TreeChange::Kind::ChecksChanged, item));
}

void ObjectTree::ToggleChecked(TreeItemId item) {
  bool state;
  {
    std::lock_guard lock(mutex_);
    if (item == kTreeRoot || item >= items_.size() || !items_[item].enabled) return;
    state = !CheckedLocked(item);
  }
  SetChecked(item, state);
}

void ObjectTree::SetEnabled(TreeItemId item, bool enabled) {
  {
    std::lock_guard lock(mutex_);
    if (item == kTreeRoot || item >= items_.size()) return;
    if (items_[item].enabled != enabled) {
      Item& parent = items_[items_[item].parent];
      if (enabled)
        ++parent.enabledChildren;
      else
        --parent.enabledChildren;
    }
    items_[item].enabled = enabled;
    RecountAncestorsLocked(item);
  }
  Notify(TreeChange::Of(TreeChange::Kind::ChecksChanged, item));
}

bool ObjectTree::IsEnabled(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() && items_[item].enabled;
}

size_t ObjectTree::ChildCount(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? items_[item].children.size() : 0;
}

size_t ObjectTree::CheckedChildCount(TreeItemId item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? items_[item].checkedChildren : 0;
}

}  // namespace veltrane
