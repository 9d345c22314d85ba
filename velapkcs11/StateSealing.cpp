// The change from plain to sealed secrets, made once when a state is opened.
#include "StateSealing.h"

#include "ObjectStore.h"
#include "TokenStore.h"

using namespace vela5::platform;

namespace velatoken {

void SealPlainSecrets(Database& db)
{
    TokenStore tokens(db);
    ObjectStore objects(db);
    for (TokenRecord token : tokens.Tokens()) {
        if (!token.user.IsSet() && !token.so.IsSet()) {
            continue; // nobody ever logged in to it, so it holds nothing private
        }
        const TokenKeyPtr key = TokenKey::Generate();
        for (const CK_USER_TYPE user : { CKU_USER, CKU_SO }) {
            PinState& pin = user == CKU_SO ? token.so : token.user;
            if (!pin.IsSet()) {
                continue;
            }
            LockedBuffer wrappingKey;
            pin.hash = PinHash::FromDerived(pin.hash.salt, pin.hash.hash, &wrappingKey);
            pin.wrappedKey = key->Wrap(wrappingKey, TokenStore::KeyContext(token.id, user));
        }
        tokens.Save(token);
        std::vector<int64_t> ids;
        {
            Statement rows(db, "SELECT id FROM objects WHERE token_id=? ORDER BY id");
            rows.Bind(1, token.id);
            while (rows.Step()) {
                ids.push_back(rows.Int(0));
            }
        }
        for (const int64_t id : ids) {
            const auto object = objects.Load(id);
            if (object && object->HasSealedValues()) {
                objects.WriteSecret(*object, key.get());
                objects.ReplaceAttributes(*object, key.get());
            }
        }
    }
}

} // namespace velatoken
