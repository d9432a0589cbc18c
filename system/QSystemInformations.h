/* The panel of one system in the SYSTEM dock. */
#ifndef QSYSTEMINFORMATIONS_H
#define QSYSTEMINFORMATIONS_H

#include <QPixmap>
#include <QWidget>

class KORUHVNode;

class QSystemInformations : public QWidget {
    Q_OBJECT
public:
    QSystemInformations(QPixmap picture, QString text, int widgetIndex, QWidget *parent);

    void setSystemTree(KORUHVNode *system) { systemTree = system; }
    KORUHVNode *getSystemTree() const { return systemTree; }
    void createSystemParameterWidgets();
    void createSystemButtonWidgets();
    void showAdvancedFeatWidget(bool show);
    void setSelected(bool selected);
    bool getIsSelected() const { return isSelected; }
    void setWidgetIdx(int index) { widgetIdx = index; }
    int getWidgetIdx() const { return widgetIdx; }
    QWidget *getParentWidget() const { return parentWidget; }
    void updateFanSpeedSlider(KORUHVNode *) {}
    void updateReadFanStatValues(KORUHVNode *) {}
    void updateTechInfo(KORUHVNode *) {}
    void updateSysInfo(KORUHVNode *) {}

signals:
    void clickedWidget();
    void startLog(bool start);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    KORUHVNode *systemTree = nullptr;
    int widgetIdx = -1;
    QWidget *parentWidget = nullptr;
    bool isSelected = false;
};

#endif
