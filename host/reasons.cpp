#include "host/reasons.h"

#include "gra/gra_format.h"
#include "q/q_format.h"

namespace host {

namespace {

// The plug-in that takes these bytes whatever the name, if any.
const Plugin* contentLooksLike(const PluginSet& plugins, std::span<const std::uint8_t> file) {
  for (const Plugin& p : plugins.plugins()) {
    if (recognisesContent(p, file)) return &p;
  }
  return nullptr;
}

// "GRA or Q", ".gra nor .q": each plug-in's part, joined.
template <class Part>
std::string listOf(const PluginSet& plugins, const char* joiner, Part part) {
  std::string list;
  const auto& all = plugins.plugins();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (i) list += i + 1 == all.size() ? joiner : ", ";
    list += part(all[i]);
  }
  return list;
}

}  // namespace

std::string describeResult(LoaderResult result) {
  switch (result) {
    case LoaderResult::Ok:
      return "done (Ok)";
    case LoaderResult::Cancelled:
      return "cancelled (Cancelled)";
    case LoaderResult::UnknownFormat:
      return "the name lacks the format's extension (UnknownFormat)";
    case LoaderResult::BadData:
      return "the data is damaged: a signature or size check failed, or the file ends early "
             "(BadData)";
    case LoaderResult::NoMemory:
      return "out of memory (NoMemory)";
    case LoaderResult::LockFailed:
      return "memory could not be locked (LockFailed)";
    case LoaderResult::OpenFailed:
      return "cannot open the file (OpenFailed)";
    case LoaderResult::NotProvided:
      return "not provided by the plug-in (NotProvided)";
  }
  return "unknown result " + std::to_string(static_cast<int>(result));
}

std::string headerProblem(PictureFormat format, std::span<const std::uint8_t> file) {
  return format == PictureFormat::Gra ? graHeaderProblem(file.data(), file.size())
                                      : qformat::headerProblem(file.data(), file.size());
}

std::string whyNotTaken(const Plugin& plugin, std::span<const std::uint8_t> file) {
  std::string why = headerProblem(plugin.format, file);
  return "not a " + plugin.title() + ": " + (why.empty() ? "the plug-in does not take it" : why);
}

std::string whyNotRecognised(const PluginSet& plugins, const std::string& fileName,
                             std::span<const std::uint8_t> file) {
  const Plugin* claimed = plugins.byFileName(fileName);
  const Plugin* looksLike = contentLooksLike(plugins, file);
  if (claimed) {
    std::string reason = whyNotTaken(*claimed, file);
    if (looksLike && looksLike != claimed) reason += "; it looks like a " + looksLike->title();
    return reason;
  }
  const auto formatName = [](const Plugin& p) { return p.title().substr(0, p.title().find(' ')); };
  const auto extension = [](const Plugin& p) { return std::string(".").append(p.extension()); };
  std::string reason = "not a " + listOf(plugins, " or ", formatName) +
                       " picture: the name ends in neither " + listOf(plugins, " nor ", extension);
  if (looksLike) reason += "; it looks like a " + looksLike->title();
  return reason;
}

std::string describeFailure(const Plugin& plugin, LoaderResult result,
                            std::span<const std::uint8_t> file) {
  if (result != LoaderResult::BadData || file.empty()) return describeResult(result);
  if (std::string why = headerProblem(plugin.format, file); !why.empty()) {
    return "not a " + plugin.title() + ": " + why + " (BadData)";
  }
  if (plugin.format == PictureFormat::Q) {
    if (std::string why = qformat::dataProblem(file.data(), file.size()); !why.empty()) {
      return why + " (BadData)";
    }
    return describeResult(result);
  }
  // A GRA header that passes leaves only its coded line pairs to run short.
  return "the file ends after " + std::to_string(file.size()) +
         " bytes, before the picture's last line pair (BadData)";
}

}  // namespace host
