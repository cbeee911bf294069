#include <exception>
#include <iostream>

#include "FbTestDb.h"

int main() {
    try {
        qortest::RemoveStaleSchemaTemplates();
        std::cout << qortest::SchemaTemplate().string() << "\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
