#pragma once
#include <Qt>
#include <vector>

#include "check/StreamCheck.h"

class QTreeWidget;

namespace varlow {

// Item data role holding the rule a node's element breaks (empty where none).
inline constexpr int kProblemRole = Qt::UserRole + 4;

// Marks the elements of a pack's tree that break a rule: the node at each problem's bit (its
// innermost one there) in dark red and bold, the rule on top of its tooltip and in kProblemRole.
void MarkProblems(QTreeWidget* tree, const std::vector<TViolation>& problems);

}  // namespace varlow
