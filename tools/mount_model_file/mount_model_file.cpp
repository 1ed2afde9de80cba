#include "mount_model_file/mount_model_file.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSaveFile>
#include <cmath>

#include "base/command_line.h"

namespace heliostat::mount_file {

namespace {

QString Name(std::string_view name) {
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

[[noreturn]] void Fail(const QString& path, const QString& what) {
    throw base::UsageError(QStringLiteral("架台モデルファイル %1 の %2").arg(path, what));
}

double Number(const QJsonObject& object, const QString& key, const QString& field,
              const QString& path) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined()) {
        Fail(path, QStringLiteral("%1 がありません").arg(field));
    }
    if (!value.isDouble() || !std::isfinite(value.toDouble())) {
        Fail(path, QStringLiteral("%1 が数値ではありません").arg(field));
    }
    return value.toDouble();
}

QJsonObject Object(const QJsonObject& parent, const QString& key, const QString& field,
                   const QString& path) {
    const QJsonValue value = parent.value(key);
    if (value.isUndefined()) {
        Fail(path, QStringLiteral("%1 がありません").arg(field));
    }
    if (!value.isObject()) {
        Fail(path, QStringLiteral("%1 がオブジェクトではありません").arg(field));
    }
    return value.toObject();
}

}  // namespace

QByteArray MountModelJson(const MountModelFile& file) {
    QJsonObject parameters;
    const auto values = astro::MountParameters(file.model);
    for (std::size_t i = 0; i < astro::kMountParameterCount; ++i) {
        parameters.insert(
            Name(astro::kMountParameterNames[i]),
            QJsonObject{{"value", values[i]}, {"standard_error", file.standardErrors[i]}});
    }
    QJsonArray residuals;
    for (const ObservationResidual& r : file.residuals) {
        residuals.append(QJsonObject{{"jst", r.jst},
                                     {"before_deg", r.beforeDeg},
                                     {"after_deg", r.afterDeg},
                                     {"outlier", r.outlier}});
    }
    const QJsonObject root{
        {"format", QString::fromLatin1(kFormatName)},
        {"version", kFormatVersion},
        {"unit", "degree"},
        {"parameters", parameters},
        {"observations", QJsonObject{{"count", file.observationCount},
                                     {"used", file.usedCount},
                                     {"first_jst", file.firstJst},
                                     {"last_jst", file.lastJst}}},
        {"fit", QJsonObject{{"rms_deg", file.rmsDeg}, {"max_deg", file.maxDeg}}},
        {"residuals", residuals},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

MountModelFile ParseMountModelJson(const QByteArray& json, const QString& path) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        throw base::UsageError(
            QStringLiteral("架台モデルファイル %1 が JSON として読めません（%2 文字目: %3）")
                .arg(path)
                .arg(error.offset)
                .arg(error.errorString()));
    }
    if (!document.isObject()) {
        throw base::UsageError(
            QStringLiteral("架台モデルファイル %1 が JSON のオブジェクトではありません").arg(path));
    }
    const QJsonObject root = document.object();
    if (root.value("format").toString() != QString::fromLatin1(kFormatName)) {
        Fail(path, QStringLiteral("format が \"%1\" ではありません").arg(kFormatName));
    }
    if (Number(root, "version", "version", path) != kFormatVersion) {
        Fail(path, QStringLiteral("version %1 は読めません（読めるのは %2）")
                       .arg(root.value("version").toDouble())
                       .arg(kFormatVersion));
    }
    MountModelFile file;
    const QJsonObject parameters = Object(root, "parameters", "parameters", path);
    std::array<double, astro::kMountParameterCount> values{};
    for (std::size_t i = 0; i < astro::kMountParameterCount; ++i) {
        const QString name = Name(astro::kMountParameterNames[i]);
        const QString field = "parameters." + name;
        const QJsonObject parameter = Object(parameters, name, field, path);
        values[i] = Number(parameter, "value", field + ".value", path);
        if (std::abs(values[i]) > kLargestParameter) {
            Fail(path, QStringLiteral("%1.value %2° が %3° を超えています")
                           .arg(field)
                           .arg(values[i])
                           .arg(kLargestParameter));
        }
        file.standardErrors[i] =
            Number(parameter, "standard_error", field + ".standard_error", path);
        if (file.standardErrors[i] < 0) {
            Fail(path, QStringLiteral("%1.standard_error が負です").arg(field));
        }
    }
    file.model = astro::MountModelFromParameters(values);
    // The fit's record is for people; it is read when present and never required.
    const QJsonObject observations = root.value("observations").toObject();
    file.observationCount = observations.value("count").toInt();
    file.usedCount = observations.value("used").toInt();
    file.firstJst = observations.value("first_jst").toString();
    file.lastJst = observations.value("last_jst").toString();
    const QJsonObject fit = root.value("fit").toObject();
    file.rmsDeg = fit.value("rms_deg").toDouble();
    file.maxDeg = fit.value("max_deg").toDouble();
    for (const QJsonValue& value : root.value("residuals").toArray()) {
        const QJsonObject r = value.toObject();
        file.residuals.push_back({r.value("jst").toString(), r.value("before_deg").toDouble(),
                                  r.value("after_deg").toDouble(), r.value("outlier").toBool()});
    }
    return file;
}

MountModelFile ReadMountModelFile(const QString& path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        throw base::UsageError(
            QStringLiteral("架台モデルファイル %1 を開けません: %2").arg(path, in.errorString()));
    }
    const QByteArray json = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        throw base::UsageError(
            QStringLiteral("架台モデルファイル %1 が読めません: %2").arg(path, in.errorString()));
    }
    return ParseMountModelJson(json, path);
}

bool WriteMountModelFile(const QString& path, const MountModelFile& file, QString& error) {
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(MountModelJson(file)) < 0 || !out.commit()) {
        error = out.errorString();
        return false;
    }
    return true;
}

}  // namespace heliostat::mount_file
