#include "options.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

#include <algorithm>
#include <cmath>

namespace heliostat::antenna {

namespace {

// One list of the options for parsing and for --help, so the two cannot drift apart.
struct Definitions {
    QCommandLineOption listen{
        "listen",
        "受信するアドレスとポート (既定 127.0.0.1:10006)。全インタフェースで受けるには "
        "0.0.0.0:10006 を明示します (--allow も指定してください)。PORT 0 はシステムが空きポート"
        "を選び、起動ログに表示します。",
        "ADDR:PORT"};
    QCommandLineOption model{"model",
                             "Hamlib のローテータ機種番号 (既定 1 = 模擬ローテータ。約 6 度/秒で"
                             "動きます)。2 は rotctld へのネットワーク接続。一覧は `rotctl -l`。",
                             "N"};
    QCommandLineOption device{"device",
                              "シリアルポート (例 /dev/ttyUSB0)、または機種 2 のときは rotctld の "
                              "HOST:PORT (例 127.0.0.1:4533)。",
                              "PATH"};
    QCommandLineOption conf{"conf",
                            "Hamlib の設定を渡します (複数回可)。例 --conf serial_speed=9600 "
                            "--conf timeout=500。キーは `rotctl -m N -L` で確認。",
                            "KEY=VALUE"};
    QCommandLineOption deadband{
        "deadband",
        "新しい指令が前回ローテータへ送った角度から両軸とも DEG 度以内なら set_position を省き"
        "ます (実機の小刻みな往復を防ぐ)。既定 0 (毎回送る)。",
        "DEG"};
    QCommandLineOption log{"log",
                           "セッション記録を CSV (RFC 4180) で FILE に書きます。列: "
                           "time,command,position,note (時刻は UTC)。",
                           "FILE"};
    QCommandLineOption verbose{"verbose",
                               "受信データごとの記録と Hamlib 自身のデバッグ出力も表示します。"};
    QCommandLineOption allow{
        "allow",
        "指令を受け付ける送信元 (複数回可)。例 --allow 192.0.2.10 --allow 10.1.0.0/16。"
        "指定すると、それ以外からのデータは記録して捨てます。",
        "ADDR[/PREFIX]"};
    QCommandLineOption help{{"h", "help"}, "この説明を表示します。"};
    QCommandLineOption version{{"v", "version"}, "バージョンを表示します。"};

    void addTo(QCommandLineParser& parser) const {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setApplicationDescription(
            "アンテナコントローラ: ヘリオスタット制御画面から UDP で届く指令 \"0,方位角,仰角\" "
            "で Hamlib 経由の架台 (ローテータ) を動かし、読んだ現在角度を返信します。\n"
            "終了コード: 0 正常終了 (SIGINT / SIGTERM を含む)、1 失敗 (ローテータ、ポート、"
            "記録ファイルを開けない等)、2 コマンドラインの誤り。");
        parser.addOptions(
            {listen, model, device, conf, deadband, log, verbose, allow, help, version});
    }
};

const QStringList kWithValue = {"listen", "model", "device", "conf", "deadband", "log", "allow"};

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

std::optional<std::pair<QHostAddress, int>> ParseNetwork(const QString& text) {
    const qsizetype slash = text.indexOf('/');
    const QString host = slash < 0 ? text : text.left(slash);
    QHostAddress address;
    if (host.isEmpty() || !address.setAddress(host)) {
        return std::nullopt;
    }
    if (bool isV4 = false; address.protocol() == QAbstractSocket::IPv6Protocol) {
        const quint32 v4 = address.toIPv4Address(&isV4);
        if (isV4 && host.contains('.')) {
            address = QHostAddress(v4);  // ::ffff:a.b.c.d means a.b.c.d
        }
    }
    const int bits = address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
    if (slash < 0) {
        return std::pair{address, bits};
    }
    const QString prefix = text.mid(slash + 1);
    bool ok = false;
    const int value = prefix.toInt(&ok);
    if (!ok || prefix.isEmpty() || value > bits ||
        !std::all_of(prefix.begin(), prefix.end(), [](QChar c) { return c.isDigit(); })) {
        return std::nullopt;
    }
    return std::pair{address, value};
}

ParseResult ParseOptions(const QStringList& args) {
    const Definitions defs;
    QCommandLineParser parser;
    defs.addTo(parser);
    const bool parsed = parser.parse(QStringList{"antenna-controller"} + args);
    // --help wins even after a mistake, so that the operator always gets the text.
    if (parser.isSet(defs.help)) {
        return HelpRequested{};
    }
    if (args.contains("--")) {
        return UsageError{QStringLiteral("不明な引数です: --")};
    }
    for (const QString& arg : args) {
        if (arg.startsWith("--verbose=")) {
            return UsageError{QStringLiteral("--verbose は値を取りません")};
        }
    }
    if (!parsed) {
        if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty()) {
            return UsageError{QStringLiteral("不明なオプションです: --%1").arg(unknown.first())};
        }
        if (const QString last = args.isEmpty() ? QString() : args.last();
            last.startsWith('-') && kWithValue.contains(last.mid(last.startsWith("--") ? 2 : 1))) {
            return UsageError{QStringLiteral("--%1 に値がありません")
                                  .arg(last.mid(last.startsWith("--") ? 2 : 1))};
        }
        return UsageError{parser.errorText()};
    }
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty()) {
        return UsageError{QStringLiteral("不明な引数です: %1").arg(extra.first())};
    }
    if (parser.isSet(defs.version)) {
        return VersionRequested{};
    }

    Options options;
    if (parser.isSet(defs.listen)) {
        const QString value = parser.value(defs.listen);
        const auto endpoint = ParseEndpoint(value);
        if (!endpoint) {
            return UsageError{
                QStringLiteral("--listen は ADDR:PORT の形で指定してください: %1").arg(value)};
        }
        options.listenAddress = endpoint->first;
        options.listenPort = endpoint->second;
    }
    if (parser.isSet(defs.model)) {
        const QString value = parser.value(defs.model);
        bool ok = false;
        options.model = value.toInt(&ok);
        if (!ok || options.model <= 0) {
            return UsageError{
                QStringLiteral("--model は Hamlib の機種番号 (正の整数) です: %1").arg(value)};
        }
    }
    if (parser.isSet(defs.device)) {
        options.device = parser.value(defs.device);
        if (options.device.isEmpty()) {
            return UsageError{QStringLiteral("--device が空です")};
        }
    }
    for (const QString& value : parser.values(defs.conf)) {
        const qsizetype eq = value.indexOf('=');
        if (eq <= 0) {
            return UsageError{
                QStringLiteral("--conf は KEY=VALUE の形で指定してください: %1").arg(value)};
        }
        options.conf.emplace_back(value.left(eq), value.mid(eq + 1));
    }
    if (parser.isSet(defs.deadband)) {
        const QString value = parser.value(defs.deadband);
        bool ok = false;
        options.deadband = value.toDouble(&ok);
        if (!ok || !std::isfinite(options.deadband) || options.deadband < 0) {
            return UsageError{
                QStringLiteral("--deadband は 0 以上の角度 (度) です: %1").arg(value)};
        }
    }
    if (parser.isSet(defs.log)) {
        options.logFile = parser.value(defs.log);
        if (options.logFile.isEmpty()) {
            return UsageError{QStringLiteral("--log のファイル名が空です")};
        }
    }
    for (const QString& value : parser.values(defs.allow)) {
        const auto network = ParseNetwork(value);
        if (!network) {
            return UsageError{
                QStringLiteral("--allow は ADDR または ADDR/PREFIX の形で指定してください: %1")
                    .arg(value)};
        }
        options.allow.push_back(*network);
    }
    options.verbose = parser.isSet(defs.verbose);
    return options;
}

QString HelpText(const QString& programName) {
    const Definitions defs;
    QCommandLineParser parser;
    defs.addTo(parser);
    // Qt's own usage line names the running binary and is in English; the rest is ours.
    QString text = parser.helpText();
    text = text.mid(text.indexOf('\n') + 1);
    text.replace(QStringLiteral("\nOptions:\n"), QStringLiteral("\nオプション:\n"));
    return QStringLiteral("使い方: %1 [オプション]\n").arg(programName) + text +
           QStringLiteral(
               "\n"
               "指令ごと、および架台が動いている間は 250 ms ごと (変化が無くても目標に達するまでは"
               "\n少なくとも毎秒) に、ローテータから読んだ現在角度を \"0,方位角,仰角\" "
               "(例 0,180.02,45.66)\nとして最後に指令を送ってきた送信元アドレス・ポートへ返信"
               "します。ローテータとの通信は別スレッドで\n行い、動作中に届いた指令は待っている"
               "指令を置き換えます (最新の指令だけが使われます)。\n"
               "\n"
               "架台の可動範囲は Hamlib の min_az/max_az/min_el/max_el から取ります。範囲外の指令、"
               "\n形式の誤った受信データ、--allow に無い送信元からのデータはローテータへ送らず、"
               "\n記録して無視します。位置が読めないときは返信しません。ローテータとの通信が途絶え"
               "\nると (rotctld の停止など) 1 秒以内、以後は最長 4 秒ごとに開き直します。\n"
               "\n"
               "動作記録は標準エラーに、新しい目標、状態の変化 (移動、到着、ローテータ喪失・復帰)"
               "\nごとに 1 行書きます。同じ送信元・同じ種類の拒否は最初の 1 件を記録し、以後は"
               "\n1 分ごとに件数をまとめます。SIGINT / SIGTERM でローテータを閉じて 3 秒以内に"
               "\n終了します (終了コード 0)。\n");
}

}  // namespace heliostat::antenna
