#include "engine/XmlSave.h"

#include "engine/ConversionContext.h"
#include "engine/DatagroupDocument.h"
#include "engine/RunJournal.h"
#include "filetools/IdentityKeepingSave.h"

namespace tollavar {

void saveXml(ConversionContext& context, const DatagroupDocument& document, const std::string& nativeXml,
             long lastDocId, const std::string& originalText)
{
    RunJournal* journal = context.journal && context.journal->begun() ? context.journal : nullptr;
    document.saveWith([&](std::string_view bytes) {
        if (!journal) {
            files::saveKeepingIdentity(nativeXml, bytes);
            return;
        }
        journal->markSaving(lastDocId, fingerprintOf(bytes), files::saveTargetOf(nativeXml));
        files::saveKeepingIdentity(nativeXml, bytes, [&] { journal->keepOriginal(originalText); });
    });
    if (journal)
        journal->dropKeptOriginal();
}

} // namespace tollavar
