#pragma once
// For the life of the object, the calling thread opens files as user and group 65534, so that
// file permissions hold in a test run by root too; the other threads keep their rights. Nothing
// changes for a test run by another user, whom the permissions bind already.

namespace lv::test {

class FilesOpenedAsNobody {
public:
    FilesOpenedAsNobody();
    ~FilesOpenedAsNobody();
    FilesOpenedAsNobody(const FilesOpenedAsNobody&) = delete;
    FilesOpenedAsNobody& operator=(const FilesOpenedAsNobody&) = delete;

private:
    bool m_switched = false;
};

} // namespace lv::test
