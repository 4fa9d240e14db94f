#pragma once

#include <string>

namespace tollavar {

struct ConversionContext;
class DatagroupDocument;

// Where a run's finished DATAGRP.XML goes: saved (saveXml), or only taken by a dry run.
class DocumentStore
{
public:
    virtual ~DocumentStore() = default;
    // True when the file on disk holds the document afterwards.
    virtual bool save(ConversionContext& context, const DatagroupDocument& document, const std::string& nativeXml,
                      long lastDocId, const std::string& originalText) = 0;
};

} // namespace tollavar
