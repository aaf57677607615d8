#include "check/gui/ProblemMarks.h"

#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "browser/gui/QtTreeSink.h"

namespace varlow {

void MarkProblems(QTreeWidget* tree, const std::vector<TViolation>& problems) {
  if (tree == nullptr || problems.empty()) return;
  for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
    QTreeWidgetItem* item = *it;
    if (item->childCount() > 0) continue;  // a group starts where its first element does
    const QVariant at = item->data(0, kBitPosRole);
    if (!at.isValid()) continue;
    QString rules;
    for (const TViolation& v : problems)
      if (v.Bit == at.toLongLong() && v.Element != "picture")
        rules += (rules.isEmpty() ? QString() : QStringLiteral("\n")) + QString::fromStdString(v.Rule);
    if (rules.isEmpty()) continue;
    item->setData(0, kProblemRole, rules);
    item->setForeground(0, QColor(0xA0, 0x00, 0x00));
    QFont font = item->font(0);
    font.setBold(true);
    item->setFont(0, font);
    const QString tip = item->toolTip(0);
    item->setToolTip(0, QStringLiteral("Problem: ") + rules + (tip.isEmpty() ? QString() : QStringLiteral("\n") + tip));
  }
}

}  // namespace varlow
