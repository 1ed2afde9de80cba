#include "options.h"

#include <algorithm>
#include <cmath>

namespace heliostat::antenna {

namespace {

// Options that take a value; the rest are flags.
bool TakesValue(const QString& name) {
    static const QStringList kWithValue = {"listen", "model", "device", "conf", "deadband", "log"};
    return kWithValue.contains(name);
}

}  // namespace

std::optional<std::pair<QHostAddress, quint16>> ParseEndpoint(const QString& text) {
    QString host;
    QString port;
    if (text.startsWith('[')) {
        const qsizetype close = text.indexOf("]:");
        if (close < 0) {
            return std::nullopt;
        }
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(':');
        if (colon < 0 || text.indexOf(':') != colon) {
            return std::nullopt;
        }
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    QHostAddress address;
    if (host.isEmpty() || !address.setAddress(host)) {
        return std::nullopt;
    }
    bool ok = false;
    const uint value = port.toUInt(&ok);
    // toUInt accepts a leading "+" and blanks; a port is digits only.
    if (!ok || value > 65535 || port.isEmpty() ||
        !std::all_of(port.begin(), port.end(), [](QChar c) { return c.isDigit(); })) {
        return std::nullopt;
    }
    return std::pair{address, static_cast<quint16>(value)};
}

ParseResult ParseOptions(const QStringList& args) {
    Options options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        if (!arg.startsWith("--") || arg == "--") {
            return UsageError{QStringLiteral("不明な引数です: %1").arg(arg)};
        }
        QString name = arg.mid(2);
        std::optional<QString> value;
        if (const qsizetype eq = name.indexOf('='); eq >= 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
        }
        if (name == "help") {
            return HelpRequested{};
        }
        if (name == "verbose") {
            if (value) {
                return UsageError{QStringLiteral("--verbose は値を取りません")};
            }
            options.verbose = true;
            continue;
        }
        if (!TakesValue(name)) {
            return UsageError{QStringLiteral("不明なオプションです: --%1").arg(name)};
        }
        if (!value) {
            if (i + 1 >= args.size()) {
                return UsageError{QStringLiteral("--%1 に値がありません").arg(name)};
            }
            value = args[++i];
        }
        if (name == "listen") {
            const auto endpoint = ParseEndpoint(*value);
            if (!endpoint) {
                return UsageError{
                    QStringLiteral("--listen は ADDR:PORT の形で指定してください: %1").arg(*value)};
            }
            options.listenAddress = endpoint->first;
            options.listenPort = endpoint->second;
        } else if (name == "model") {
            bool ok = false;
            options.model = value->toInt(&ok);
            if (!ok || options.model <= 0) {
                return UsageError{
                    QStringLiteral("--model は Hamlib の機種番号 (正の整数) です: %1").arg(*value)};
            }
        } else if (name == "device") {
            if (value->isEmpty()) {
                return UsageError{QStringLiteral("--device が空です")};
            }
            options.device = *value;
        } else if (name == "conf") {
            const qsizetype eq = value->indexOf('=');
            if (eq <= 0) {
                return UsageError{
                    QStringLiteral("--conf は KEY=VALUE の形で指定してください: %1").arg(*value)};
            }
            options.conf.emplace_back(value->left(eq), value->mid(eq + 1));
        } else if (name == "deadband") {
            bool ok = false;
            options.deadband = value->toDouble(&ok);
            if (!ok || !std::isfinite(options.deadband) || options.deadband < 0) {
                return UsageError{
                    QStringLiteral("--deadband は 0 以上の角度 (度) です: %1").arg(*value)};
            }
        } else if (name == "log") {
            if (value->isEmpty()) {
                return UsageError{QStringLiteral("--log のファイル名が空です")};
            }
            options.logFile = *value;
        }
    }
    return options;
}

QString HelpText(const QString& programName) {
    return QStringLiteral(
               "使い方: %1 [オプション]\n"
               "\n"
               "アンテナコントローラ: ヘリオスタット制御画面から UDP で届く指令 \"0,方位角,仰角\"\n"
               "を受け取り、Hamlib 経由で架台 (ローテータ) をその角度へ動かします。指令ごと、\n"
               "および架台が動いている間は 250 ms ごと "
               "(変化が無くても目標に達するまでは少なくとも\n"
               "毎秒) に、ローテータから読んだ現在角度を \"0,方位角,仰角\" (例 0,180.02,45.66)\n"
               "として指令の送信元アドレス・ポートへ返信します。\n"
               "\n"
               "オプション:\n"
               "  --listen ADDR:PORT   受信するアドレスとポート (既定 127.0.0.1:10006)。\n"
               "                       全インタフェースで受けるには 0.0.0.0:10006 を明示します。\n"
               "                       PORT 0 "
               "はシステムが空きポートを選び、起動ログに表示します。\n"
               "  --model N            Hamlib のローテータ機種番号 (既定 1 = 模擬ローテータ。\n"
               "                       約 6 度/秒で動きます)。2 は rotctld へのネットワーク接続。\n"
               "                       一覧は `rotctl -l` で確認できます。\n"
               "  --device PATH        シリアルポート (例 /dev/ttyUSB0)、または機種 2 のときは\n"
               "                       rotctld の HOST:PORT (例 127.0.0.1:4533)。\n"
               "  --conf KEY=VALUE     Hamlib の設定を渡します (複数回可)。例 --conf min_az=0\n"
               "                       --conf serial_speed=9600。キーは `rotctl -m N -L` で確認。\n"
               "  --deadband DEG       新しい指令が前回ローテータへ送った角度から両軸とも DEG 度\n"
               "                       以内なら set_position を省きます "
               "(実機の小刻みな往復を防ぐ)。\n"
               "                       既定 0 (毎回送る)。\n"
               "  --log FILE           セッション記録を CSV (RFC 4180) で FILE に書きます。\n"
               "                       列: time,command,position,note (時刻は UTC)。\n"
               "  --verbose            Hamlib 自身のデバッグ出力も表示します。\n"
               "  --help               この説明を表示します。\n"
               "\n"
               "架台の可動範囲は Hamlib の min_az/max_az/min_el/max_el "
               "から取ります。範囲外の指令、\n"
               "形式の誤った受信データ (空、項目数違い、先頭が \"0\" でない、数値でない等) は\n"
               "ローテータへ送らず、理由を標準エラーに記録して無視します。位置が読めないときは\n"
               "返信せず、その旨を記録します。\n"
               "\n"
               "動作記録は 1 行 1 事象で標準エラーに出力します。SIGINT / SIGTERM で\n"
               "ローテータを閉じて終了します (終了コード 0)。\n"
               "終了コード: 0 正常終了、1 起動失敗 (ローテータを開けない、ポートを使えない等)、\n"
               "2 コマンドラインの誤り。\n")
        .arg(programName);
}

}  // namespace heliostat::antenna
