#include "options.h"

#include "base/command_line.h"
#include "mount_model_file/mount_model_file.h"

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
        "ます (実機の小刻みな往復を防ぐ)。既定 0 (動かしている目標と同じ指令だけ省く)。",
        "DEG"};
    QCommandLineOption log{"log",
                           "セッション記録を CSV (RFC 4180) で FILE に追記します。列: "
                           "time,command,position,rotator,note (時刻は UTC、rotator は"
                           "ローテータ自身の角度)。",
                           "FILE"};
    QCommandLineOption verbose{"verbose",
                               "受信データごとの記録と Hamlib 自身のデバッグ出力も表示します。"};
    QCommandLineOption allow{
        "allow",
        "指令を受け付ける送信元 (複数回可)。例 --allow 192.0.2.10 --allow 10.1/16 "
        "(= 10.1.0.0/16)。"
        "指定すると、それ以外からのデータは記録して捨てます。",
        "ADDR[/PREFIX]"};
    QCommandLineOption azRange{
        "az-range",
        "方位角の可動範囲を MIN 度～MAX 度に狭めます (Hamlib の min_az/max_az より広くはできま"
        "せん)。例 --az-range -90:270。",
        "MIN:MAX"};
    QCommandLineOption elRange{"el-range",
                               "仰角の可動範囲を MIN 度～MAX 度に狭めます (Hamlib の min_el/max_el "
                               "より広くはできません)。例 --el-range 5:85。",
                               "MIN:MAX"};
    QCommandLineOption park{"park",
                            "安全な待機位置 (方位角,仰角)。例 --park 180,10。範囲外は起動時の誤り"
                            "です。",
                            "AZ,EL"};
    QCommandLineOption watchdog{
        "watchdog",
        "受け付けた指令が SECONDS 秒届かないと --park の位置へ退避します (--park があれば既定 "
        "30、0 で無効)。次の指令で追尾に戻ります。",
        "SECONDS"};
    QCommandLineOption parkOnExit{"park-on-exit",
                                  "SIGINT / SIGTERM でも --park の位置へ動かしてから終了します。"};
    QCommandLineOption mountModel{
        "mount-model",
        "heliostat-calibrate が当てはめた架台モデル (JSON)。指令の方向をモデルで架台の角度に"
        "直してから範囲と近回りの規則で動かし、読んだ角度はモデルで鏡が実際に向く方向に直して"
        "返信します (記録の rotator 列は架台自身の角度)。",
        "FILE"};
    QCommandLineOption help{{"h", "help"}, "この説明を表示します。"};
    QCommandLineOption version{{"v", "version"}, "バージョンを表示します。"};

    void addTo(QCommandLineParser& parser) const {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setApplicationDescription(
            "アンテナコントローラ: ヘリオスタット制御画面から UDP で届く指令 \"0,方位角,仰角\" "
            "で Hamlib 経由の架台 (ローテータ) を動かし、読んだ現在角度を返信します。\n"
            "終了コード: 0 正常終了 (SIGINT / SIGTERM を含む)、1 失敗 (ローテータ、ポート、"
            "記録ファイルを開けない、記録の行が失われた等)、2 コマンドラインの誤り。");
        parser.addOptions({listen, model, device, conf, deadband, log, verbose, allow, azRange,
                           elRange, park, watchdog, parkOnExit, mountModel, help, version});
    }
};

// "A:B" with a separator: two strict decimal numbers.
std::optional<std::pair<double, double>> NumberPair(const QString& text, QChar separator) {
    const QStringList parts = text.split(separator);
    if (parts.size() != 2) {
        return std::nullopt;
    }
    bool okFirst = false;
    bool okSecond = false;
    const double first = parts[0].toDouble(&okFirst);
    const double second = parts[1].toDouble(&okSecond);
    if (!okFirst || !okSecond || !std::isfinite(first) || !std::isfinite(second)) {
        return std::nullopt;
    }
    return std::pair{first, second};
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

std::optional<std::pair<QHostAddress, int>> ParseNetwork(const QString& text) {
    // Qt's reading of a subnet: "10.1/16" is 10.1.0.0/16, host bits are cleared.
    const auto [address, prefix] = QHostAddress::parseSubnet(text);
    if (prefix < 0 || address.isNull()) {
        return std::nullopt;
    }
    // ::ffff:a.b.c.d/P (P of at least 96) is the IPv4 network a.b.c.d/(P - 96): senders
    // are matched as IPv4.
    if (bool isV4 = false; address.protocol() == QAbstractSocket::IPv6Protocol && prefix >= 96) {
        const quint32 v4 = address.toIPv4Address(&isV4);
        if (isV4) {
            return std::pair{QHostAddress(v4), prefix - 96};
        }
    }
    return std::pair{address, prefix};
}

ParseResult ParseOptions(const QStringList& args, const QString& programName) {
    using base::UsageError;
    namespace usage = base::usage;
    const Definitions defs;
    QCommandLineParser parser;
    defs.addTo(parser);
    ParseResult result;
    try {
        try {
            base::Parse(parser, QStringList{programName} + args);
        } catch (const UsageError&) {
            // --help wins even after a mistake, so that the operator always gets the text.
            if (parser.isSet(defs.help)) {
                result.outcome = base::CommandLineOutcome::Help;
                result.text = HelpText(programName);
                return result;
            }
            throw;
        }
        if (parser.isSet(defs.help)) {
            result.outcome = base::CommandLineOutcome::Help;
            result.text = HelpText(programName);
            return result;
        }
        if (parser.isSet(defs.version)) {
            result.outcome = base::CommandLineOutcome::Version;
            return result;
        }

        Options& options = result.options;
        if (parser.isSet(defs.listen)) {
            const QString value = parser.value(defs.listen);
            const auto endpoint = ParseEndpoint(value);
            if (!endpoint) {
                throw UsageError(usage::BadValue("listen", value, " ADDR:PORT の形"));
            }
            options.listenAddress = endpoint->first;
            options.listenPort = endpoint->second;
        }
        if (parser.isSet(defs.model)) {
            options.model = static_cast<int>(
                base::ReadInteger("model", parser.value(defs.model), 1, 2147483647));
        }
        if (parser.isSet(defs.device)) {
            options.device = parser.value(defs.device);
            if (options.device.isEmpty()) {
                throw UsageError(usage::BadValue("device", options.device, " 空でないパス"));
            }
        }
        for (const QString& value : parser.values(defs.conf)) {
            const qsizetype eq = value.indexOf('=');
            if (eq <= 0) {
                throw UsageError(usage::BadValue("conf", value, " KEY=VALUE の形"));
            }
            options.conf.emplace_back(value.left(eq), value.mid(eq + 1));
        }
        if (parser.isSet(defs.deadband)) {
            options.deadband =
                base::ReadNumber("deadband", parser.value(defs.deadband), 0, 180, " (度)");
        }
        if (parser.isSet(defs.log)) {
            options.logFile = parser.value(defs.log);
            if (options.logFile.isEmpty()) {
                throw UsageError(usage::BadValue("log", options.logFile, " ファイル名"));
            }
        }
        for (const QString& value : parser.values(defs.allow)) {
            const auto network = ParseNetwork(value);
            if (!network) {
                throw UsageError(usage::BadValue("allow", value, " ADDR または ADDR/PREFIX"));
            }
            options.allow.push_back(*network);
        }
        const auto range = [&](const QCommandLineOption& option, const char* name) {
            std::optional<std::pair<double, double>> out;
            if (parser.isSet(option)) {
                const QString value = parser.value(option);
                out = NumberPair(value, ':');
                if (!out || out->first > out->second) {
                    throw UsageError(usage::BadValue(name, value, " MIN:MAX (MIN ≦ MAX) の形"));
                }
            }
            return out;
        };
        options.azimuthRange = range(defs.azRange, "az-range");
        options.elevationRange = range(defs.elRange, "el-range");
        if (parser.isSet(defs.park)) {
            const QString value = parser.value(defs.park);
            const auto angles = NumberPair(value, ',');
            if (!angles || angles->second < -90 || angles->second > 90) {
                throw UsageError(usage::BadValue("park", value, " AZ,EL (度) の形"));
            }
            options.park = base::AzEl{angles->first, angles->second};
            options.watchdog = 30;
        }
        if (parser.isSet(defs.watchdog)) {
            if (!options.park) {
                throw UsageError(usage::Required("--watchdog には --park"));
            }
            options.watchdog =
                base::ReadNumber("watchdog", parser.value(defs.watchdog), 0, 86400, " (秒)");
        }
        options.parkOnExit = parser.isSet(defs.parkOnExit);
        if (options.parkOnExit && !options.park) {
            throw UsageError(usage::Required("--park-on-exit には --park"));
        }
        options.verbose = parser.isSet(defs.verbose);
        if (parser.isSet(defs.mountModel)) {
            options.mountModelFile = parser.value(defs.mountModel);
            options.mountModel = mount_file::ReadMountModelFile(options.mountModelFile).model;
        }
    } catch (const UsageError& error) {
        result = ParseResult{};
        result.outcome = base::CommandLineOutcome::UsageError;
        result.text = error.message();
    }
    return result;
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
               "(例 0,180.02,45.66、\n方位角は 0 以上 360 未満)として最後に指令を送ってきた送信元"
               "アドレス・ポートへ返信します\n(多くても毎秒 10 "
               "回)。ローテータとの通信は別スレッドで"
               "行い、動作中に届いた指令は待って\nいる指令を置き換えます (最新の指令だけが使われ"
               "ます)。動かしている目標と同じ指令は\nローテータへ送り直しません。\n"
               "\n"
               "架台の可動範囲は Hamlib の min_az/max_az/min_el/max_el (--az-range/--el-range で"
               "\n狭められます) から取ります。方位角 A は A + k×360 のうち範囲内で現在の方位角に"
               "最も\n近い角度へ動かします (ケーブル巻き取りの規則)。近回りが範囲内に無いときは"
               "遠回りし、\nその大きさを記録します。どの角度でも届かない指令は動かさず "
               "\"0,方位角,仰角,limit\"\n(現在角度、多くても毎秒 1 回) を返します。"
               "形式の誤った受信データ、--allow に無い\n送信元からのデータはローテータへ送らず、"
               "記録して無視します。位置が読めないときは\n返信しません。ローテータとの通信が途絶え"
               "ると (rotctld の停止、時間切れなど) 0.5 秒後、\n以後は最長 4 秒ごとに開き直し、"
               "途中だった移動をやり直します。\n"
               "\n"
               "--park と --watchdog: 受け付けた指令が所定の秒数届かないと待機位置へ動かし、"
               "その間の\n返信は \"0,方位角,仰角,parked\" になります。\n"
               "\n"
               "動作記録は標準エラーに、新しい目標、状態の変化 (移動、到着、ローテータ喪失・復帰)"
               "\nごとに 1 行書きます。同じ送信元アドレス・同じ種類の拒否は最初の 1 件を記録し、"
               "以後は\n1 分ごとに件数をまとめます。--log の CSV は追記され、指令の行も拒否の行も"
               "毎秒 10 行\nまでです。書けなかった行は数え、書けるようになったら件数を 1 行に"
               "記録し、終了コードを\n1 にします。SIGINT / SIGTERM でローテータを閉じて 3 秒以内に"
               "終了します (終了コード 0)。\n");
}

}  // namespace heliostat::antenna
