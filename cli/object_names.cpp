#include "cli/object_names.h"

#include "core/text.h"

namespace veltrane {

std::string UnquoteIdentifier(std::string_view name) {
  name = Trim(name);
  if (name.size() >= 2) {
    const char open = name.front(), close = name.back();
    const bool quoted = (open == '"' && close == '"') || (open == '`' && close == '`') ||
                        (open == '\'' && close == '\'') || (open == '[' && close == ']');
    if (quoted) {
      const std::string_view inner = name.substr(1, name.size() - 2);
      if (open == '[') return std::string(inner);
      std::string out;
      for (size_t i = 0; i < inner.size(); ++i) {
        out.push_back(inner[i]);
        if (inner[i] == open && i + 1 < inner.size() && inner[i + 1] == open) ++i;
      }
      return out;
    }
  }
  return std::string(name);
}

namespace {

// The names under which a label can be asked for.
std::vector<std::string> NamesOf(const std::string& label, bool index) {
  std::vector<std::string> names;
  const std::string trimmed(Trim(label));
  names.push_back(trimmed);
  names.push_back(UnquoteIdentifier(trimmed));
  if (index) {
    const std::string upper = ToUpperAscii(trimmed);
    const size_t on = upper.find(" ON ");
    if (on != std::string::npos) {
      const std::string own(Trim(std::string_view(trimmed).substr(0, on)));
      names.push_back(own);
      names.push_back(UnquoteIdentifier(own));
    }
  }
  return names;
}

}  // namespace

std::string ObjectNameOf(const std::string& label, bool index) {
  const std::vector<std::string> names = NamesOf(label, index);
  return names.back();
}

TreeItemId FindObject(const RecoverySession& session, const std::string& name) {
  const std::string wanted(Trim(name));
  const std::string wantedUnquoted = UnquoteIdentifier(wanted);
  const TreeItemId groups[] = {session.tablesRoot, session.indexesRoot, session.viewsRoot,
                               session.triggersRoot};
  for (bool ignoreCase : {false, true}) {
    for (TreeItemId group : groups) {
      if (group == kTreeRoot) continue;
      for (TreeItemId item : session.tree.Children(group)) {
        for (const std::string& candidate : NamesOf(session.tree.Text(item), group == session.indexesRoot)) {
          const bool hit = ignoreCase ? (EqualsIgnoreCaseAscii(candidate, wanted) ||
                                         EqualsIgnoreCaseAscii(candidate, wantedUnquoted))
                                      : (candidate == wanted || candidate == wantedUnquoted);
          if (hit) return item;
        }
      }
    }
  }
  return kTreeRoot;
}

}  // namespace veltrane
