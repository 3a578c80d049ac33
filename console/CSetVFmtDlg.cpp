#include "console/CSetVFmtDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QValidator>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>

#include "common/Utf.h"
#include "console/DispatchEvent.h"
#include "console/TPrompts.h"

namespace console {

namespace {

constexpr char kOutOfRange[] = "您选择的设置不在可选范围内";
constexpr char kSaveFailed[] = "设置保存失败";
constexpr int kAddressUnits = static_cast<int>(kRtmpAddrUnits) - 1;
constexpr int kNameUnits = static_cast<int>(kRtmpNameUnits) - 1;
constexpr int kShownOffsetLimitMs = 5000;
constexpr int kDefaultListEntry = 2;

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
QString Text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Digits with an optional minus sign whose value fits 16 bits; anything
// else cannot be typed or pasted.
class TInt16Validator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        if (input.isEmpty() || input == QLatin1String("-"))
            return Intermediate;
        bool parsed = false;
        const int value = input.toInt(&parsed);
        const bool digitsOnly =
            std::all_of(input.begin() + (input.startsWith(QLatin1Char('-')) ? 1 : 0), input.end(),
                        [](QChar c) { return c.isDigit(); });
        if (!parsed || !digitsOnly || value < INT16_MIN || value > INT16_MAX)
            return Invalid;
        return Acceptable;
    }
};

int GopEntry(int16_t gop) {
    if (gop <= 74)
        return 0;
    if (gop <= 149)
        return 1;
    return 2;
}

std::string Formatted(const char* pattern, int number) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, number);
    return text;
}

template <size_t N>
void CopyCut(const QString& text, char16_t (&field)[N]) {
    const std::u16string units = text.toStdU16String();
    const size_t length = common::Utf16CutLength(units, N - 1);
    std::copy_n(units.data(), length, field);
    field[length] = u'\0';
}

}  // namespace

CSetVFmtDlg::CSetVFmtDlg(VFmtSettings& settings, IPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_prompts(prompts) {
    setObjectName(QStringLiteral("1085"));
    setWindowTitle(Text("视频采集格式"));
    setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 8));
    CreateControls();
    OnInitDialog();
    ConnectControls();
}

void CSetVFmtDlg::CreateControls() {
    // Dialog units: x in quarters of the average character width, y in
    // eighths of the character height.
    const QFontMetrics metrics(font());
    const int du_x = metrics.averageCharWidth();
    const int du_y = metrics.height();
    setFixedSize(kWidthDu * du_x / 4, kHeightDu * du_y / 8);
    const auto place = [&](auto* control, int id, int x, int y, int w, int h) {
        if (id != 0)
            control->setObjectName(QString::number(id));
        control->setGeometry(x * du_x / 4, y * du_y / 8, w * du_x / 4, h * du_y / 8);
        return control;
    };
    const auto list = [&](int id, int x, int y, int w) {
        auto* box = place(new QComboBox(this), id, x, y, w, 14);
        return box;
    };
    const auto button = [&](const char* text, int id, int x, int y, int w, int h) {
        auto* pushButton = place(new QPushButton(Text(text), this), id, x, y, w, h);
        pushButton->setAutoDefault(false);
        return pushButton;
    };
    place(new QGroupBox(Text("视音频参数"), this), 0, 7, 5, 231, 82);
    place(new QLabel(Text("尺寸"), this), 0, 21, 22, 17, 10);
    m_pSizeList = list(1000, 42, 20, 74);
    place(new QLabel(Text("帧率"), this), 0, 21, 44, 17, 10);
    m_pFrameRateList = list(1089, 42, 42, 74);
    place(new QLabel(Text("格式"), this), 0, 21, 66, 17, 10);
    m_pFormatList = list(1088, 42, 64, 74);
    place(new QLabel(Text("GOP"), this), 0, 139, 23, 16, 10);
    m_pGopList = list(1091, 162, 20, 52);
    place(new QLabel(Text("码率"), this), 0, 138, 43, 21, 10);
    m_pRecordRateList = list(1097, 162, 41, 52);
    place(new QLabel(Text("音画偏移"), this), 0, 128, 66, 33, 10);
    m_pOffsetEdit = place(new QLineEdit(this), 1090, 162, 63, 52, 14);
    m_pOffsetEdit->setValidator(new TInt16Validator(m_pOffsetEdit));
    place(new QLabel(Text("毫秒"), this), 0, 217, 66, 17, 8);

    place(new QGroupBox(Text("输出参数"), this), 0, 7, 104, 231, 140);
    place(new QLabel(Text("文件类型："), this), 0, 23, 122, 40, 10);
    static const char* const kTypeTexts[4] = {".MP4", ".TS", ".FLV", ".MKV"};
    static const int kTypeX[4] = {66, 112, 148, 189};
    static const int kTypeWidth[4] = {32, 21, 26, 26};
    for (int i = 0; i < 4; ++i) {
        m_pFileTypeBoxes[i] = place(new QCheckBox(Text(kTypeTexts[i]), this), 3005 + i, kTypeX[i],
                                    122, kTypeWidth[i], 10);
    }
    place(new QLabel(Text("文件路径："), this), 0, 23, 141, 41, 10);
    m_pFolderEdit = place(new QLineEdit(this), 1093, 65, 139, 154, 14);
    m_pFolderEdit->setReadOnly(true);
    connect(button("...", 1081, 222, 140, 13, 12), &QPushButton::clicked, this,
            [this] { OnChooseFolder(); });
    place(new QLabel(Text("直播推流："), this), 0, 23, 167, 50, 10);
    place(new QLabel(Text("推流码率"), this), 0, 122, 168, 32, 10);
    m_pPushRateList = list(1094, 159, 165, 60);
    // The column heads are disabled edits with a label over each.
    for (const auto& [id, x, w] : {std::tuple{3022, 23, 137}, std::tuple{3023, 159, 60}}) {
        QLineEdit* head = place(new QLineEdit(this), id, x, 180, w, 14);
        head->setReadOnly(true);
        head->setEnabled(false);
    }
    place(new QLabel(Text("直播地址"), this), 0, 78, 183, 35, 10);
    place(new QLabel(Text("备注"), this), 0, 178, 183, 17, 10);
    for (int n = 0; n < kRtmpTargets; ++n) {
        m_pAddressEdits[n] = place(new QLineEdit(this), 3016 + n, 23, 194 + 13 * n, 137, 14);
        m_pAddressEdits[n]->setMaxLength(kAddressUnits);
        m_pNameEdits[n] = place(new QLineEdit(this), 3019 + n, 159, 194 + 13 * n, 60, 14);
        m_pNameEdits[n]->setMaxLength(kNameUnits);
    }

    QPushButton* ok = button("确定", 1, 75, 341, 36, 14);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(button("取消", 2, 125, 341, 36, 14), &QPushButton::clicked, this, [this] { reject(); });
    connect(button("应用", 1080, 173, 341, 36, 14), &QPushButton::clicked, this,
            [this] { OnApply(); });
}

void CSetVFmtDlg::FillLists() {
    for (int16_t format : kColourFormats) m_pFormatList->addItem(Text(ColourFormatText(format)));
    for (int16_t rate : kFrameRates) m_pFrameRateList->addItem(QString::number(rate));
    for (TOutputSize size : kOutputSizes) m_pSizeList->addItem(Text(SizeText(size)));
    for (int16_t gop : kGopLengths) m_pGopList->addItem(QString::number(gop));
    for (int kbps : kRecordBitRatesKbps) m_pRecordRateList->addItem(Text(BitRateText(kbps)));
    for (int kbps : kPushBitRatesKbps) m_pPushRateList->addItem(Text(BitRateText(kbps)));
}

void CSetVFmtDlg::OnInitDialog() {
    FillLists();
    m_pGopList->setCurrentIndex(1);
    m_pRecordRateList->setCurrentIndex(kDefaultListEntry);
    m_pPushRateList->setCurrentIndex(kDefaultListEntry);
    m_pOffsetEdit->setText(QStringLiteral("0"));
    m_pFileTypeBoxes[0]->setChecked(true);
    for (int n = 0; n < kRtmpTargets; ++n) {
        m_pAddressEdits[n]->clear();
        m_pNameEdits[n]->clear();
    }
    if (m_settings.formatIndex == -1 || m_settings.frameRateIndex == -1 ||
        m_settings.sizeIndex == -1) {
        m_prompts.ShowBox("对话框初始化失败: 缺省格式没有指定");
        return;
    }
    SelectFromSettings();
}

void CSetVFmtDlg::SelectFromSettings() {
    // An index outside its list leaves that list without a selection, which
    // Apply then refuses or replaces.
    m_pFormatList->setCurrentIndex(m_settings.formatIndex);
    m_pFrameRateList->setCurrentIndex(m_settings.frameRateIndex);
    m_pSizeList->setCurrentIndex(m_settings.sizeIndex);
    m_pGopList->setCurrentIndex(GopEntry(m_settings.gop));
    m_pRecordRateList->setCurrentIndex(m_settings.recordBitRateIndex);
    m_pPushRateList->setCurrentIndex(m_settings.pushBitRateIndex);
    const int shownOffset =
        std::clamp<int>(m_settings.avOffsetMs, -kShownOffsetLimitMs, kShownOffsetLimitMs);
    m_pOffsetEdit->setText(QString::number(shownOffset));
    m_pFolderEdit->setText(QString::fromStdU16String(m_settings.recordFolder));
    if (m_settings.fileTypes != 0) {
        for (int i = 0; i < 4; ++i)
            m_pFileTypeBoxes[i]->setChecked((m_settings.fileTypes & (1u << i)) != 0);
    }
    for (int n = 0; n < kRtmpTargets; ++n) {
        m_pAddressEdits[n]->setText(QString::fromStdU16String(m_settings.addresses[n]));
        m_pNameEdits[n]->setText(QString::fromStdU16String(m_settings.names[n]));
    }
}

void CSetVFmtDlg::ConnectControls() {
    connect(m_pSizeList, &QComboBox::currentIndexChanged, this,
            [this] { CheckSelection(m_pSizeList, m_settings.sizeIndex, kDefaultListEntry); });
    connect(m_pRecordRateList, &QComboBox::currentIndexChanged, this, [this] {
        CheckSelection(m_pRecordRateList, m_settings.recordBitRateIndex, kDefaultListEntry);
    });
    connect(m_pPushRateList, &QComboBox::currentIndexChanged, this, [this] {
        CheckSelection(m_pPushRateList, m_settings.pushBitRateIndex, kDefaultListEntry);
    });
}

bool CSetVFmtDlg::CheckSelection(QComboBox* list, int stored, int fallback) {
    const int count = list->count();
    if (list->currentIndex() >= 0 && list->currentIndex() < count)
        return true;
    m_prompts.ShowBox(kOutOfRange);
    const QSignalBlocker quiet(list);
    list->setCurrentIndex(stored >= 0 && stored < count ? stored : fallback);
    return false;
}

void CSetVFmtDlg::OnChooseFolder() {
    const std::string chosen =
        m_prompts.ChooseFolder("请选择录制文件夹：", common::Utf16ToUtf8(m_settings.recordFolder));
    const QString folder = Text(chosen).trimmed();
    if (folder.isEmpty()) {
        m_prompts.ShowBox("无效的目录，请重新选择");
        return;
    }
    m_settings.recordFolder = folder.toStdU16String();
    m_pFolderEdit->setText(folder);
}

bool CSetVFmtDlg::ValidateBeforeStore() {
    if (!CheckSelection(m_pRecordRateList, m_settings.recordBitRateIndex, kDefaultListEntry))
        return false;
    if (!CheckSelection(m_pPushRateList, m_settings.pushBitRateIndex, kDefaultListEntry))
        return false;
    const std::string folder = common::Utf16ToUtf8(m_settings.recordFolder);
    if (!folder.empty() && !IsWritableFolder(folder)) {
        m_prompts.ShowBox("录制文件夹不存在或不可写入：" + folder);
        return false;
    }
    for (int n = 0; n < kRtmpTargets; ++n) {
        const QString address = m_pAddressEdits[n]->text().trimmed();
        if (!address.isEmpty() && !IsPushAddress(address.toStdU16String())) {
            m_prompts.ShowBox(Formatted("推流地址%d无效：只支持 rtmp:// 或 udp:// 地址", n + 1));
            return false;
        }
        if (address.isEmpty() && !m_pNameEdits[n]->text().trimmed().isEmpty()) {
            m_prompts.ShowBox(Formatted("推流地址%d为空，请填写地址或删除备注", n + 1));
            return false;
        }
    }
    return true;
}

int16_t CSetVFmtDlg::ChosenIndex(QComboBox* list, int16_t opened, int16_t fallback,
                                 const char* message) {
    const auto inside = [list](int index) { return index >= 0 && index < list->count(); };
    if (inside(list->currentIndex()))
        return static_cast<int16_t>(list->currentIndex());
    m_prompts.ShowBox(message);
    const int16_t replacement = inside(opened) ? opened : fallback;
    const QSignalBlocker quiet(list);
    list->setCurrentIndex(replacement);
    return replacement;
}

int16_t CSetVFmtDlg::OffsetFromEdit() const {
    // The validator keeps the text inside 16 bits; an empty edit or a lone
    // minus sign reads as 0.
    const std::string text = m_pOffsetEdit->text().toStdString();
    int16_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

uint16_t CSetVFmtDlg::CheckedFileTypes() const {
    uint16_t types = 0;
    for (int i = 0; i < 4; ++i) {
        if (m_pFileTypeBoxes[i]->isChecked())
            types |= static_cast<uint16_t>(1u << i);
    }
    return types;
}

bool CSetVFmtDlg::StoreRecording() {
    m_settings.gop =
        kGopLengths[std::clamp(m_pGopList->currentIndex(), 0, ListSize(kGopLengths) - 1)];
    m_settings.recordBitRateIndex = static_cast<int16_t>(m_pRecordRateList->currentIndex());
    m_settings.avOffsetMs = OffsetFromEdit();
    m_settings.fileTypes = CheckedFileTypes();
    return WriteRecord(m_settings.avOffsetMs, m_settings.recordBitRateIndex, m_settings.gop,
                       m_settings.fileTypes) &&
           WriteString(m_settings.recordFolder, "RecordPath", "Record") == 0;
}

bool CSetVFmtDlg::StorePush() {
    m_settings.pushBitRateIndex = static_cast<int16_t>(m_pPushRateList->currentIndex());
    std::u16string_view addresses[kRtmpTargets];
    std::u16string_view names[kRtmpTargets];
    for (int n = 0; n < kRtmpTargets; ++n) {
        CopyCut(m_pAddressEdits[n]->text().trimmed(), m_settings.addresses[n]);
        CopyCut(m_pNameEdits[n]->text(), m_settings.names[n]);
        addresses[n] = m_settings.addresses[n];
        names[n] = m_settings.names[n];
    }
    return WriteRtmp(m_settings.pushBitRateIndex, addresses, names);
}

bool CSetVFmtDlg::OnApply() {
    if (!ValidateBeforeStore())
        return false;
    const int16_t format = ChosenIndex(m_pFormatList, m_settings.formatIndex,
                                       VFmtSettings{}.formatIndex, "设备颜色格式不在可选范围内");
    const int16_t frameRate = ChosenIndex(m_pFrameRateList, m_settings.frameRateIndex,
                                          VFmtSettings{}.frameRateIndex, "设备帧率不在可选范围内");
    const int16_t size =
        ChosenIndex(m_pSizeList, m_settings.sizeIndex, VFmtSettings{}.sizeIndex, kOutOfRange);
    if (!StoreRecording() || !StorePush()) {
        m_prompts.ShowBox(kSaveFailed);
        return false;
    }
    // The indices the dialog opened with stay as they were, so every Apply
    // with a format other than those reopens the sources.
    if (format == m_settings.formatIndex && frameRate == m_settings.frameRateIndex &&
        size == m_settings.sizeIndex)
        return true;
    const TOutputSize chosen = kOutputSizes[size];
    if (!WriteClient(chosen.width, chosen.height, kFrameRates[frameRate], kColourFormats[format])) {
        m_prompts.ShowBox(kSaveFailed);
        return false;
    }
    if (m_settings.ownerWindow != nullptr)
        PostDispatch(m_settings.ownerWindow, kRestartVideo, 0);
    return true;
}

void CSetVFmtDlg::OnOK() {
    if (OnApply())
        accept();
}

}  // namespace console
